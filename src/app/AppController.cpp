#include "app/AppController.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMainWindow>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QTimer>
#include <QUrl>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

#include "app/AppResources.h"
#include "app/CompositionDropView.h"
#include "app/OBNumberFormatter.h"
#include "app/ParameterView.h"
#include "app/UserDefaults.h"
#include "base/Log.h"
#include "platform/media/CodecRegistry.h"
#include "platform/media/ImageSequence.h"
#include "shared/RecordedEvents.h"
#include "ui_MainWindow.h"

namespace {

// Sizes of the renderPreset entries 0-8; the entry after them is "Custom".
constexpr std::array<std::pair<int, int>, 9> kPresetSizes = {{{320, 240},
                                                              {640, 480},
                                                              {800, 600},
                                                              {1024, 768},
                                                              {1280, 1024},
                                                              {720, 480},
                                                              {720, 576},
                                                              {1280, 720},
                                                              {1920, 1080}}};

// The preview's rate while the idle composition shows.
constexpr double kIdleFrameRate = 60.0;
// The preview's rate for an opened composition.
constexpr double kCompositionFrameRate = 12.0;
constexpr double kDefaultDuration = 10.0;
constexpr int kLosslessQuality = 5;
constexpr double kAntialiasWarningFactor = 4.0;

QString versionString() {
    return QStringLiteral(LUMIVANE_VERSION);
}

// Path helpers with the rules of the platform's path strings: a trailing "/"
// is not part of the last component, and a leading dot does not start an
// extension.
QString withoutTrailingSlashes(const QString& path) {
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith('/')) trimmed.chop(1);
    return trimmed;
}

qsizetype extensionDot(const QString& path) {
    const QString trimmed = withoutTrailingSlashes(path);
    const qsizetype slash = trimmed.lastIndexOf('/');
    const qsizetype dot = trimmed.lastIndexOf('.');
    if (dot <= slash + 1) return -1;
    return dot;
}

QString pathExtension(const QString& path) {
    const qsizetype dot = extensionDot(path);
    return dot < 0 ? QString() : withoutTrailingSlashes(path).mid(dot + 1);
}

QString deletingPathExtension(const QString& path) {
    const qsizetype dot = extensionDot(path);
    const QString trimmed = withoutTrailingSlashes(path);
    return dot < 0 ? trimmed : trimmed.left(dot);
}

}  // namespace

AppController::AppController(QObject* parent)
    : QObject(parent),
      m_window(std::make_unique<QMainWindow>()),
      m_ui(std::make_unique<Ui::MainWindow>()),
      m_defaults(new UserDefaults(this)) {
    m_ui->setupUi(m_window.get());
    // The two progress indicators keep their room while hidden, so the window
    // does not jump when a render starts.
    for (QWidget* indicator :
         {static_cast<QWidget*>(m_ui->encodeProgress), static_cast<QWidget*>(m_ui->progress)}) {
        QSizePolicy policy = indicator->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        indicator->setSizePolicy(policy);
        indicator->hide();
    }
    m_ui->noParametersLabel->setText(tr("This composition has no published input parameters."));
    m_ui->parameterDrawer->hide();
    m_window->installEventFilter(this);
    m_ui->antialias->installEventFilter(this);

    connect(m_ui->renderPreset, &QComboBox::activated, this,
            [this] { resolutionChanged(m_ui->renderPreset); });
    connect(m_ui->codec, &QComboBox::activated, this, [this] { codecChanged(m_ui->codec); });
    connect(m_ui->quality, &QComboBox::activated, this, [this] { qualityChanged(m_ui->quality); });
    connect(m_ui->antialias, &QSlider::valueChanged, this, [this] { aaChanged(m_ui->antialias); });
    connect(m_ui->motionBlur, &QSlider::valueChanged, this,
            [this] { mbChanged(m_ui->motionBlur); });
    connect(m_ui->toggleDrawer, &QAbstractButton::clicked, this,
            [this] { toggleDrawer(m_ui->toggleDrawer); });
    connect(m_ui->previewEnabled, &QAbstractButton::clicked, this,
            [this] { togglePreview(m_ui->previewEnabled); });
    connect(m_defaults, &UserDefaults::controlEdited, this, [this](QWidget* control) {
        if (control == m_ui->width || control == m_ui->height) resolutionChanged(control);
    });
    connect(m_ui->dropView, &CompositionDropView::compositionLoadFailed, this,
            [this](const QString& reason) {
                m_ui->statusText->setText(reason);
                lumivane::logLine(reason.toStdString());
            });
    connect(m_ui->actionOpen, &QAction::triggered, this, &AppController::chooseCompositionToOpen);
    connect(m_ui->actionQuit, &QAction::triggered, m_window.get(), &QWidget::close);
    connect(m_ui->actionHelp, &QAction::triggered, this, [this] { showHelp(m_ui->actionHelp); });
}

AppController::~AppController() {
    // The drop view keeps a pointer to its delegate; end that before going.
    m_ui->dropView->setDelegate(nullptr);
}

void AppController::applicationWillFinishLaunching() {
    m_window->setWindowTitle(QStringLiteral("Lumivane v%1").arg(versionString()));

    // Return in the path field presses Record.
    connect(m_ui->moviePath, &QLineEdit::returnPressed, m_ui->startRecording,
            &QAbstractButton::click);

    aaChanged(m_ui->antialias);
    mbChanged(m_ui->motionBlur);

    CompositionDropView* view = m_ui->dropView;
    view->setAutostartsRendering(false);
    m_compositionFile.clear();
    view->setDelegate(this);
    view->setEventForwardingMask(0);
    view->startRendering();

    // Each field owns its formatter.
    struct FieldFormat {
        const char* key;
        QLineEdit* field;
        unsigned maxLength;
        double defaultValue, minValue, maxValue;
        bool hasSeparator;
    };
    constexpr double infinity = std::numeric_limits<double>::infinity();
    const FieldFormat formats[] = {
        {kFrameRateKey, m_ui->framerate, 8, 30.0, 0.01, 10000.0, true},
        {kDurationKey, m_ui->movieDuration, 12, 10.0, 0.01, 1000000000.0, true},
        {kMovieWidthKey, m_ui->width, 4, 640.0, 16.0, 4096.0, false},
        {kMovieHeightKey, m_ui->height, 4, 480.0, 16.0, 4096.0, false},
        {kTimeOffsetKey, m_ui->startTime, 4, 0.0, 0.0, infinity, true},
        {kTimeScaleKey, m_ui->timeScale, 3, 1.0, -infinity, infinity, true},
    };
    for (const FieldFormat& format : formats) {
        auto* formatter =
            new OBNumberFormatter(format.maxLength, format.defaultValue, format.minValue,
                                  format.maxValue, format.hasSeparator, format.field);
        m_defaults->bindNumberField(format.key, format.field, formatter);
    }
    m_defaults->bindSelectedIndex(kSelectedPresetKey, m_ui->renderPreset);

    m_ui->codec->clear();
    m_ui->quality->clear();
    for (const QString& title :
         {tr("Minimum"), tr("Low"), tr("Normal"), tr("High"), tr("Max"), tr("Lossless")})
        m_ui->quality->addItem(title);
    m_ui->quality->setCurrentIndex(2);

    buildCodecMenu();

    m_ui->startRecording->setText(tr("Record"));
    m_ui->startRecordingInput->setText(tr("Record Input"));
    m_ui->previewEnabled->setText(tr("Preview"));

    // Binding applies a stored selection that the rebuilt menus still have.
    m_defaults->bindSelectedIndex(kSelectedQualityKey, m_ui->quality);
    m_defaults->bindSelectedIndex(kSelectedCodecKey, m_ui->codec);

    seedDefault(kDurationKey, 10.0);
    seedDefault(kFrameRateKey, 30.0);
    seedDefault(kMovieWidthKey, 640.0);
    seedDefault(kMovieHeightKey, 480.0);
    seedDefault(kTimeOffsetKey, 0.0);
    seedDefault(kTimeScaleKey, 1.0);
}

void AppController::buildCodecMenu() {
    QComboBox* menu = m_ui->codec;
    int mpeg4Entry = -1;
    for (const lumivane::CodecInfo& codec : lumivane::offeredCodecs()) {
        menu->addItem(QString::fromStdString(codec.name));
        menu->setItemData(menu->count() - 1, QString::fromStdString(codec.fourcc), Qt::ToolTipRole);
        if (codec.fourcc == "mp4v") mpeg4Entry = menu->count() - 1;
    }
    menu->insertSeparator(menu->count());
    const std::pair<QString, const char*> sequences[] = {
        {tr("JPEG Sequence"), "public.jpeg"},
        {tr("PNG Sequence"), "public.png"},
        {tr("TIFF Sequence"), "public.tiff"},
        {tr("OpenEXR Sequence"), "com.ilm.openexr-image"},
    };
    for (const auto& [title, type] : sequences) {
        menu->addItem(title);
        menu->setItemData(menu->count() - 1, QString::fromLatin1(type), Qt::ToolTipRole);
    }
    // Without a stored choice the menu starts on MPEG-4 part 2, which every
    // player reads, rather than on whichever code sorts first.
    menu->setCurrentIndex(std::max(mpeg4Entry, 0));
}

void AppController::seedDefault(const char* key, double value) {
    if (!m_defaults->contains(key)) m_defaults->setValue(key, value);
}

bool AppController::openFile(const QString& file) {
    // No composition changes under a running render.
    if (!m_ui->previewEnabled->isEnabled()) return false;
    // A path relative to where the application started would name another
    // file for the renderer and the proposed output.
    const QString path = QFileInfo(file).absoluteFilePath();
    CompositionDropView* view = m_ui->dropView;
    if (m_ui->previewEnabled->isChecked())
        view->startRendering();
    else
        view->stopRendering();
    QString error;
    if (!view->loadCompositionFromFile(path, &error)) {
        // As after a failed drop: nothing to record, no output proposed.
        const QString reason = error.isEmpty() ? tr("Could not open %1").arg(path) : error;
        m_ui->statusText->setText(reason);
        lumivane::logLine(reason.toStdString());
        setCanRecord(false);
        setDefaultPath(QString());
        m_window->setWindowTitle(QStringLiteral("Lumivane"));
        return false;
    }
    view->setMaxRenderingFrameRate(kCompositionFrameRate);
    setCompositionFile(path);
    setCanRecord(true);
    setDefaultPath(deletingPathExtension(path) + QStringLiteral(".mov"));
    m_window->setWindowTitle(
        QStringLiteral("Lumivane v%1 - %2").arg(versionString(), QFileInfo(path).fileName()));
    return true;
}

void AppController::chooseCompositionToOpen() {
    const QString path = QFileDialog::getOpenFileName(m_window.get(), tr("Open Composition"),
                                                      QFileInfo(m_compositionFile).absolutePath(),
                                                      tr("Compositions (*.qtz)"));
    if (!path.isEmpty()) openFile(path);
}

QString AppController::selectedOutputType() const {
    return m_ui->codec->currentData(Qt::ToolTipRole).toString();
}

bool AppController::isSequenceType(const QString& outputType) {
    return lumivane::isImageSequenceType(outputType.toStdString());
}

QString AppController::pathForOutputType(const QString& path, const QString& outputType) {
    if (path.isEmpty()) return path;
    const QString extension = pathExtension(path);
    if (isSequenceType(outputType)) {
        if (extension == QLatin1String("mov")) return deletingPathExtension(path) + '/';
        return path;
    }
    if (extension == QLatin1String("mov")) return path;
    const QString base = withoutTrailingSlashes(path);
    // The root directory has no name to give a movie.
    if (base == QLatin1String("/")) return path;
    return base + QStringLiteral(".mov");
}

int AppController::motionBlurSamples(double value) {
    double samples = 0.0;
    if (value < 1.0) {
        samples = std::max(1.0, 16.0 * value);
    } else {
        const double steps = std::floor(8.0 * value) / 8.0;
        samples = std::pow(2.0, steps + 3.0);
    }
    return static_cast<int>(samples);
}

double AppController::antialiasValue() const {
    return m_ui->antialias->value() / kAntialiasSteps;
}

double AppController::motionBlurValue() const {
    return m_ui->motionBlur->value() / kMotionBlurSteps;
}

QAbstractButton* AppController::previewEnabled() const {
    return m_ui->previewEnabled;
}
CompositionDropView* AppController::dropView() const {
    return m_ui->dropView;
}
QProgressBar* AppController::progress() const {
    return m_ui->progress;
}
QProgressBar* AppController::encodeProgress() const {
    return m_ui->encodeProgress;
}
QLabel* AppController::statusText() const {
    return m_ui->statusText;
}

void AppController::resolutionChanged(QObject* sender) {
    if (qobject_cast<QComboBox*>(sender)) {
        const int index = m_ui->renderPreset->currentIndex();
        if (index < 0 || index >= static_cast<int>(kPresetSizes.size())) return;
        m_defaults->setValue(kMovieWidthKey, kPresetSizes[index].first);
        m_defaults->setValue(kMovieHeightKey, kPresetSizes[index].second);
        return;
    }
    m_defaults->setValue(kSelectedPresetKey, m_ui->renderPreset->count() - 1);
}

void AppController::codecChanged(QObject* /*sender*/) {
    const QString path = m_ui->moviePath->text();
    if (path.isEmpty()) return;
    const QString adjusted = pathForOutputType(path, selectedOutputType());
    if (adjusted != path) m_ui->moviePath->setText(adjusted);
}

void AppController::qualityChanged(QObject* sender) {
    const auto* menu = qobject_cast<QComboBox*>(sender);
    if (!menu || menu->currentIndex() != kLosslessQuality) return;
    warnSlowdown(tr("Quality Slowdown").arg(tr("Lossless")), kDisableQualityWarningKey);
}

void AppController::aaChanged(QObject* /*sender*/) {
    const double value = antialiasValue();
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    m_ui->aaAmount->setText(locale.toString(value * value, 'f', 0) + QLatin1Char('x'));
    if (m_handlingSliderRelease && value > kAntialiasWarningFactor)
        warnSlowdown(tr("AA Slowdown"), kDisableAAWarningKey);
}

void AppController::mbChanged(QObject* /*sender*/) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    m_ui->mbAmount->setText(locale.toString(motionBlurSamples(motionBlurValue())));
}

void AppController::warnSlowdown(const QString& informativeText, const char* disableKey) {
    if (m_defaults->boolValue(disableKey)) return;
    QMessageBox alert(QMessageBox::Warning, tr("Slowdown Warning"), tr("Slowdown Warning"),
                      QMessageBox::Ok, m_window.get());
    alert.setInformativeText(informativeText);
    alert.setWindowModality(Qt::ApplicationModal);
    alert.setCheckBox(new QCheckBox(tr("Do not show this message again"), &alert));
    alert.exec();
    if (alert.checkBox()->isChecked()) m_defaults->setValue(disableKey, true);
}

void AppController::toggleDrawer(QObject* /*sender*/) {
    m_ui->parameterDrawer->setVisible(m_ui->parameterDrawer->isHidden());
}

void AppController::togglePreview(QObject* sender) {
    CompositionDropView* view = m_ui->dropView;
    // The idle composition always runs.
    if (view->maxRenderingFrameRate() == kIdleFrameRate) return;
    const auto* button = qobject_cast<QAbstractButton*>(sender);
    if (!button) return;
    if (button->isChecked()) {
        if (view->isRendering() && view->isPausedRendering())
            view->resumeRendering();
        else
            view->startRendering();
    } else if (view->isRendering() && !view->isPausedRendering()) {
        view->pauseRendering();
    }
}

void AppController::showHelp(QObject* /*sender*/) {
    const QString page = AppResources::helpPage();
    if (!QFileInfo::exists(page) || !QDesktopServices::openUrl(QUrl::fromLocalFile(page))) {
        const QString reason = tr("Could not open the help page %1").arg(page);
        m_ui->statusText->setText(reason);
        lumivane::logLine(reason.toStdString());
    }
}

void AppController::disableControls() {
    m_ui->previewEnabled->setEnabled(false);
    // A field being edited commits its text before it is disabled.
    for (QLineEdit* field : {m_ui->movieDuration, m_ui->framerate}) {
        m_defaults->commitEditing(field);
        field->setEnabled(false);
    }
    m_ui->quality->setEnabled(false);
    m_ui->codec->setEnabled(false);
    for (QLineEdit* field : {m_ui->width, m_ui->height}) {
        m_defaults->commitEditing(field);
        field->setEnabled(false);
    }
    for (QWidget* control :
         {static_cast<QWidget*>(m_ui->moviePath), static_cast<QWidget*>(m_ui->antialias),
          static_cast<QWidget*>(m_ui->motionBlur), static_cast<QWidget*>(m_ui->browseButton),
          static_cast<QWidget*>(m_ui->toggleDrawer), static_cast<QWidget*>(m_ui->renderPreset),
          static_cast<QWidget*>(m_ui->startTime), static_cast<QWidget*>(m_ui->timeScale),
          static_cast<QWidget*>(m_ui->startRecordingInput)})
        control->setEnabled(false);
    m_ui->encodeProgress->setValue(0);
    m_ui->encodeProgress->show();
    m_ui->progress->show();
    CompositionDropView* view = m_ui->dropView;
    if (view->isRendering() && !view->isPausedRendering()) view->pauseRendering();
    m_ui->startRecording->setText(tr("Cancel"));
}

void AppController::enableControls() {
    if (m_updateTimer) {
        m_updateTimer->stop();
        delete std::exchange(m_updateTimer, nullptr);
    }
    for (QWidget* control :
         {static_cast<QWidget*>(m_ui->previewEnabled), static_cast<QWidget*>(m_ui->movieDuration),
          static_cast<QWidget*>(m_ui->framerate), static_cast<QWidget*>(m_ui->quality),
          static_cast<QWidget*>(m_ui->codec), static_cast<QWidget*>(m_ui->width),
          static_cast<QWidget*>(m_ui->height), static_cast<QWidget*>(m_ui->moviePath),
          static_cast<QWidget*>(m_ui->antialias), static_cast<QWidget*>(m_ui->motionBlur),
          static_cast<QWidget*>(m_ui->browseButton), static_cast<QWidget*>(m_ui->toggleDrawer),
          static_cast<QWidget*>(m_ui->renderPreset), static_cast<QWidget*>(m_ui->startTime),
          static_cast<QWidget*>(m_ui->timeScale)})
        control->setEnabled(true);
    m_ui->startRecordingInput->setEnabled(!m_compositionFile.isEmpty());
    m_ui->statusText->clear();
    m_ui->timeElapsed->clear();
    m_ui->encodeProgress->hide();
    m_ui->progress->hide();
    CompositionDropView* view = m_ui->dropView;
    if (view->isRendering() && view->isPausedRendering() && m_ui->previewEnabled->isChecked())
        view->resumeRendering();
    if (m_encoderTask) {
        // Letting go of the job must not kill a renderer that is still
        // finishing its file: it goes once it has ended.
        QProcess* task = std::exchange(m_encoderTask, nullptr);
        if (task->state() == QProcess::NotRunning)
            task->deleteLater();
        else
            connect(task, &QProcess::finished, task, &QObject::deleteLater);
    }
    m_ui->startRecording->setText(tr("Record"));
}

void AppController::windowDidResize() {
    m_ui->dropView->erase();
}

void AppController::windowDidDeminiaturize() {
    CompositionDropView* view = m_ui->dropView;
    if (m_ui->previewEnabled->isChecked() || view->maxRenderingFrameRate() > kCompositionFrameRate)
        view->startRendering();
}

void AppController::setCompositionFile(const QString& path) {
    m_compositionFile = path;
    double totalSec = 0.0;
    lumivane::RecordedEvents::recordedEventsArrayForComposition(
        QFile::encodeName(path).toStdString(), &totalSec);
    m_defaults->setValue(kDurationKey, totalSec > 0.0 ? totalSec : kDefaultDuration);
    m_ui->parameterView->setCompositionRenderer(m_ui->dropView);
    if (m_ui->parameterView->hasParameters()) {
        m_ui->noParametersLabel->hide();
        m_ui->parameterDrawer->show();
        m_ui->toggleDrawer->setChecked(true);
    } else {
        m_ui->noParametersLabel->setText(tr("This composition has no published input parameters."));
        m_ui->noParametersLabel->show();
        m_ui->parameterDrawer->hide();
        m_ui->toggleDrawer->setChecked(false);
    }
}

void AppController::setCanRecord(bool flag) {
    m_ui->startRecording->setEnabled(flag);
    m_ui->startRecordingInput->setEnabled(flag);
}

void AppController::setDefaultPath(const QString& path) {
    // An empty proposal stays empty rather than becoming the root directory.
    if (path.isEmpty())
        m_ui->moviePath->clear();
    else if (isSequenceType(selectedOutputType()))
        m_ui->moviePath->setText(deletingPathExtension(path) + '/');
    else
        m_ui->moviePath->setText(path);
}

bool AppController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window.get()) {
        if (event->type() == QEvent::Resize) {
            windowDidResize();
        } else if (event->type() == QEvent::WindowStateChange) {
            const auto* change = static_cast<QWindowStateChangeEvent*>(event);
            if ((change->oldState() & Qt::WindowMinimized) && !m_window->isMinimized())
                windowDidDeminiaturize();
        }
    } else if (watched == m_ui->antialias && event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        // The warning comes once the slider has taken the release.
        QTimer::singleShot(0, this, [this] {
            m_handlingSliderRelease = true;
            aaChanged(m_ui->antialias);
            m_handlingSliderRelease = false;
        });
    }
    return QObject::eventFilter(watched, event);
}
