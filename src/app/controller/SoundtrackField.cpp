#include "app/controller/SoundtrackField.h"

#include <QAbstractButton>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>

#include "app/controller/OutputPath.h"
#include "app/controller/UserDefaults.h"

namespace {

// The one local file a drag carries, or nothing.
QString droppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1) return {};
    const QUrl url = data->urls().front();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

SoundtrackField::SoundtrackField(QLineEdit* field, QAbstractButton* chooseButton,
                                 UserDefaults* defaults, QObject* parent)
    : QObject(parent), m_field(field), m_chooseButton(chooseButton), m_defaults(defaults) {
    m_field->setClearButtonEnabled(true);
    m_field->setAcceptDrops(true);
    m_field->installEventFilter(this);
    m_field->setText(m_defaults->value(kSoundtrackKey).toString());
    // Typing and the clear button both end here; an empty field is no soundtrack.
    connect(m_field, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.isEmpty())
            m_defaults->remove(kSoundtrackKey);
        else
            m_defaults->setValue(kSoundtrackKey, text);
        emit changed(path());
    });
    connect(m_chooseButton, &QAbstractButton::clicked, this, &SoundtrackField::choose);
}

QString SoundtrackField::path() const {
    return OutputPath::expandingTilde(m_field->text().trimmed());
}

void SoundtrackField::take(const QString& path) {
    m_field->setText(path);
}

void SoundtrackField::choose() {
    const QString start = path().isEmpty() ? QString() : QFileInfo(path()).absolutePath();
    auto* dialog = new QFileDialog(m_field->window(), tr("Choose a Soundtrack"), start,
                                   tr("Sound and movies (*.wav *.aif *.aiff *.flac *.mp3 *.aac "
                                      "*.m4a *.ogg *.opus *.mov *.mp4 *.mkv);;All files (*)"));
    dialog->setObjectName(QStringLiteral("soundtrackDialog"));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, &SoundtrackField::take);
    dialog->open();
}

bool SoundtrackField::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_field) return false;
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        auto* drag = static_cast<QDropEvent*>(event);
        if (droppedFile(drag->mimeData()).isEmpty()) return false;
        drag->acceptProposedAction();
        return true;
    }
    if (event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        const QString file = droppedFile(drop->mimeData());
        if (file.isEmpty()) return false;
        take(file);
        drop->acceptProposedAction();
        return true;
    }
    return false;
}
