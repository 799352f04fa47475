#include "app/controller/OutputPath.h"

#include <pwd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

#include "app/controller/OutputMenus.h"
#include "app/view/PathText.h"

QString OutputPath::expandingTilde(const QString& path) {
    if (!path.startsWith('~')) return path;
    const qsizetype slash = path.indexOf('/');
    const QString user = path.mid(1, slash < 0 ? -1 : slash - 1);
    QString home;
    if (user.isEmpty()) {
        home = QDir::homePath();
    } else if (const passwd* entry = getpwnam(QFile::encodeName(user).constData())) {
        home = QFile::decodeName(entry->pw_dir);
    } else {
        return path;
    }
    return slash < 0 ? home : lumivane::withoutTrailingSlashesOf(home) + path.mid(slash);
}

QString OutputPath::expanded() const {
    return expandingTilde(m_field->text());
}

void OutputPath::adjustToType(const QString& outputType, const QString& movieExtension) {
    const QString path = m_field->text();
    if (path.isEmpty()) return;
    const QString adjusted = OutputMenus::pathForOutputType(path, outputType, movieExtension);
    if (adjusted != path) m_field->setText(adjusted);
}

void OutputPath::propose(const QString& path, const QString& outputType) {
    // An empty proposal stays empty rather than becoming the root directory.
    if (path.isEmpty())
        m_field->clear();
    else if (OutputMenus::isSequenceType(outputType))
        m_field->setText(lumivane::deletingPathExtensionOf(path) + '/');
    else
        m_field->setText(path);
}

void OutputPath::takeChosen(const QString& chosen, const QString& outputType,
                            const QString& movieExtension) {
    m_field->setText(OutputMenus::isSequenceType(outputType)
                         ? chosen
                         : OutputMenus::pathForOutputType(chosen, outputType, movieExtension));
}

void OutputPath::openSavePanel(QWidget* window, const QString& outputType,
                               const QString& movieExtension,
                               std::function<void(bool, const QString&)> done) const {
    auto* panel = new QFileDialog(window);
    panel->setObjectName(QStringLiteral("savePanel"));
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setFileMode(QFileDialog::AnyFile);
    panel->setLabelText(QFileDialog::Accept,
                        QCoreApplication::translate("AppController", "Choose"));
    // A sequence is a directory named as chosen; a movie is a file with its
    // container's extension.
    const bool sequence = OutputMenus::isSequenceType(outputType);
    panel->setDefaultSuffix(sequence ? QString() : movieExtension);
    if (!sequence)
        panel->setNameFilter(
            QCoreApplication::translate("AppController", "Movies (*.%1)").arg(movieExtension));
    if (!m_field->text().isEmpty()) {
        const QFileInfo current(lumivane::withoutTrailingSlashesOf(expanded()));
        panel->setDirectory(current.absolutePath());
        panel->selectFile(current.fileName());
    }
    panel->setWindowModality(Qt::WindowModal);
    QObject::connect(
        panel, &QFileDialog::finished, panel, [panel, done = std::move(done)](int result) {
            const QStringList chosen = panel->selectedFiles();
            panel->deleteLater();
            done(result == QDialog::Accepted, chosen.isEmpty() ? QString() : chosen.first());
        });
    panel->open();
}
