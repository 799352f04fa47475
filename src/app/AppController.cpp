#include "app/AppController.h"

#include <pwd.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSessionManager>
#include <QTimer>
#include <QUrl>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

#include "app/AppControllerAdapter.h"
#include "app/AppResources.h"
#include "app/CompositionDropView.h"
#include "app/DelayedReports.h"
#include "app/DockIcon.h"
#include "app/OBNumberFormatter.h"
#include "app/ParameterView.h"
#include "app/QuitSignalNotifier.h"
#include "app/RenderJob.h"
#include "app/RenderProgressText.h"
#include "app/UserDefaults.h"
#include "app/recording/RecordInputView.h"
#include "app/recording/RecordInputWindow.h"
#include "base/Log.h"
#include "base/MonotonicClock.h"
#include "base/Version.h"
#include "platform/media/CodecRegistry.h"
#include "platform/media/ImageSequence.h"
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
// The checkup's interval while a job runs.
constexpr int kCheckupIntervalMs = 500;
// encodeProgress runs over 0..kProgressSteps for 0.0..1.0.
constexpr double kProgressSteps = 10000.0;
// Return codes of sheets: an alert's default button, and the first and
// second buttons of the quit question.
constexpr int kDefaultReturn = 1;
constexpr int kFirstButtonReturn = 1000;
constexpr int kSecondButtonReturn = 1001;

// The keys the renderer sends, for the string table.
[[maybe_unused]] constexpr const char* kRendererKeys[] = {
    QT_TRANSLATE_NOOP("AppController", "preparing to encode"),
    QT_TRANSLATE_NOOP("AppController", "Complete"),
    QT_TRANSLATE_NOOP("AppController", "Failed to load the Composition"),
    QT_TRANSLATE_NOOP("AppController", "Failed to create offscreen renderer"),
    QT_TRANSLATE_NOOP("AppController", "failed to create movie"),
    QT_TRANSLATE_NOOP("AppController", "Cancelled"),
};

QString versionString() {
    return QString::fromLatin1(lumivane::kVersionText);
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

QString lastPathComponent(const QString& path) {
    const QString trimmed = withoutTrailingSlashes(path);
    return trimmed.mid(trimmed.lastIndexOf('/') + 1);
}

// A leading "~" or "~user" becomes that home directory; anything else, and
// an unknown user, stays as it is.
QString expandingTilde(const QString& path) {
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
    return slash < 0 ? home : withoutTrailingSlashes(home) + path.mid(slash);
}

QString titleOf(const QObject* sender) {
    if (const auto* button = qobject_cast<const QAbstractButton*>(sender)) return button->text();
    if (const auto* action = qobject_cast<const QAction*>(sender)) return action->text();
    return QString();
}

}  // namespace

AppController::AppController(QObject* parent)
    : QObject(parent),
      m_ui(std::make_unique<Ui::MainWindow>()),
      m_window(std::make_unique<QMainWindow>()),
      m_defaults(new UserDefaults(this)),
      m_rendererPath(AppResources::rendererPath()),
      m_delayedReports(new DelayedReports(this)),
      m_dockIcon(new DockIcon(QIcon(AppResources::iconPath(QStringLiteral("Lumivane"))),
                              QIcon(AppResources::iconPath(QStringLiteral("LumivaneWorking"))),
                              this)),
      m_quitSignals(new QuitSignalNotifier(this)) {
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
    connect(m_ui->startRecordingInput, &QAbstractButton::clicked, this,
            [this] { openRecordInput(m_ui->startRecordingInput); });
    connect(m_defaults, &UserDefaults::controlEdited, this, [this](QWidget* control) {
        if (control == m_ui->width || control == m_ui->height) resolutionChanged(control);
    });
    connect(m_ui->dropView, &CompositionDropView::compositionLoadFailed, this,
            [this](const QString& reason) {
                m_ui->statusText->setText(reason);
                lumivane::logLine(reason.toStdString());
            });
    connect(m_ui->actionOpen, &QAction::triggered, this, &AppController::chooseCompositionToOpen);
    connect(m_ui->actionQuit, &QAction::triggered, this, &AppController::terminate);

    connect(m_ui->startRecording, &QAbstractButton::clicked, this,
            [this] { record(m_ui->startRecording); });
    connect(m_ui->browseButton, &QAbstractButton::clicked, this,
            [this] { browse(m_ui->browseButton); });
    connect(m_delayedReports, &DelayedReports::errorReportDue, this, &AppController::indicateError);
    connect(m_dockIcon, &DockIcon::cancelRequested, this, [this] {
        // A menu built while a job ran may be chosen after it ended.
        if (m_ui->startRecording->text() == tr("Cancel")) cancelRendering();
    });
    if (m_quitSignals->installed().ok())
        connect(m_quitSignals, &QuitSignalNotifier::quitRequested, this,
                &AppController::handleQuit);
    else
        lumivane::logLine(m_quitSignals->installed().error());
    // The session's quit, like a signal, is taken on the event loop.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& session) {
        // Keeps the session waiting for the answer while a job runs.
        if (m_job && m_job->isRunning() && session.allowsInteraction()) session.cancel();
        QTimer::singleShot(0, this, &AppController::handleQuit);
    });
    // A quit that did not come through the question still stops the renderer
    // so that it finishes its movie.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (m_job) m_job->stopForQuit();
    });
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
        // May run inside the timer's own timeout (the checkup).
        m_updateTimer->stop();
        std::exchange(m_updateTimer, nullptr)->deleteLater();
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
    releaseJob();
    m_dockIcon->setRendering(false, QString());
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
    if (!m_recordInputWindow) {
        m_recordInputWindow = std::make_unique<RecordInputWindow>(m_window.get());
        m_recordInputWindow->setParentController(this);
    }
    // Loads the composition's recording.
    m_recordInputWindow->setCompositionFile(path);
    const double totalSec = m_recordInputWindow->totalSec();
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

void AppController::openRecordInput(QObject* /*sender*/) {
    if (!m_recordInputWindow) return;  // no composition open yet
    CompositionDropView* view = m_ui->dropView;
    if (view->isRendering() && !view->isPausedRendering()) view->pauseRendering();
    m_recordInputWindow->reset();
    // Recording starts from the values set in the drawer.
    RecordInputView* inputView = m_recordInputWindow->inputView();
    for (const std::string& key : view->inputKeys()) {
        if (const auto value = view->valueForInputKey(key)) inputView->setValue(*value, key);
    }
    m_ui->parameterDrawer->hide();
    QMenuBar* menuBar = m_window->menuBar();
    const QList<QAction*> menus = menuBar->actions();
    menuBar->insertAction(menus.size() > 1 ? menus[1] : nullptr, m_recordInputWindow->menuItem());
    m_recordInputWindow->window()->show();
}

void AppController::closeRecordInput() {
    if (!m_recordInputWindow) return;
    m_recordInputWindow->window()->hide();
    m_window->menuBar()->removeAction(m_recordInputWindow->menuItem());
    const double totalSec = m_recordInputWindow->totalSec();
    if (totalSec > 0) m_defaults->setValue(kDurationKey, totalSec);
    CompositionDropView* view = m_ui->dropView;
    if (view->isRendering() && view->isPausedRendering() && m_ui->previewEnabled->isChecked())
        view->resumeRendering();
    if (m_ui->toggleDrawer->isChecked()) m_ui->parameterDrawer->show();
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
        if (event->type() == QEvent::Close) {
            // The window stays; the application decides whether to quit.
            event->ignore();
            windowShouldClose();
            return true;
        }
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

std::shared_ptr<const lumivane::EventArray> AppController::recordedEvents() const {
    // A copy: the job keeps the recording as it was when it started, whatever
    // is recorded while it runs.
    if (!m_recordInputWindow) return std::make_shared<const lumivane::EventArray>();
    return std::make_shared<const lumivane::EventArray>(m_recordInputWindow->inputView()->events());
}

QString AppController::localizedKey(const QString& key) {
    if (key.isEmpty()) return QString();
    return QCoreApplication::translate("AppController", key.toUtf8().constData());
}

double AppController::fieldValue(QLineEdit* field, const char* key, double fallback) const {
    // As the field shows it once a pending edit is committed: the stored
    // number, or the formatter's default that shows when there is none.
    m_defaults->commitEditing(field);
    return m_defaults->doubleValue(key).value_or(fallback);
}

void AppController::browse(QObject* /*sender*/) {
    auto* panel = new QFileDialog(m_window.get());
    panel->setObjectName(QStringLiteral("savePanel"));
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setFileMode(QFileDialog::AnyFile);
    panel->setLabelText(QFileDialog::Accept, tr("Choose"));
    // A sequence is a directory named as chosen; a movie is a ".mov" file.
    const bool sequence = isSequenceType(selectedOutputType());
    panel->setDefaultSuffix(sequence ? QString() : QStringLiteral("mov"));
    if (!sequence) panel->setNameFilter(tr("Movies (*.mov)"));
    const QFileInfo current(withoutTrailingSlashes(expandingTilde(m_ui->moviePath->text())));
    if (!m_ui->moviePath->text().isEmpty()) {
        panel->setDirectory(current.absolutePath());
        panel->selectFile(current.fileName());
    }
    panel->setWindowModality(Qt::WindowModal);
    connect(panel, &QFileDialog::finished, this, [this, panel](int result) {
        const QStringList chosen = panel->selectedFiles();
        panel->deleteLater();
        savePanelDidEnd(result == QDialog::Accepted ? kDefaultReturn : 0,
                        chosen.isEmpty() ? QString() : chosen.first());
    });
    panel->open();
}

void AppController::savePanelDidEnd(int returnCode, const QString& chosenPath) {
    if (returnCode != kDefaultReturn || chosenPath.isEmpty()) return;
    // A movie must end in ".mov" even when another extension was typed.
    const QString type = selectedOutputType();
    m_ui->moviePath->setText(isSequenceType(type) ? chosenPath
                                                  : pathForOutputType(chosenPath, type));
}

void AppController::record(QObject* sender) {
    if (titleOf(sender) == tr("Cancel")) {
        cancelRendering();
        return;
    }
    const QString path = expandingTilde(m_ui->moviePath->text());
    if (path.isEmpty()) return;
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
        saveSheet(kDefaultReturn);
        return;
    }
    // The existing output is replaced by the renderer, never removed here.
    auto* alert = new QMessageBox(m_window.get());
    alert->setObjectName(QStringLiteral("replaceAlert"));
    alert->setIcon(QMessageBox::Critical);
    alert->setText(tr("File Exists").arg(lastPathComponent(path)));
    alert->setInformativeText(tr("Replace Informative Text"));
    QPushButton* replace = alert->addButton(tr("Replace"), QMessageBox::AcceptRole);
    QPushButton* cancel = alert->addButton(tr("Cancel"), QMessageBox::RejectRole);
    alert->setDefaultButton(replace);
    alert->setEscapeButton(cancel);
    alert->setWindowModality(Qt::WindowModal);
    connect(alert, &QMessageBox::finished, this, [this, alert, replace] {
        const bool replacing = alert->clickedButton() == replace;
        alert->deleteLater();
        saveSheet(replacing ? kDefaultReturn : 0);
    });
    alert->open();
}

void AppController::saveSheet(int returnCode) {
    if (returnCode != kDefaultReturn) return;
    const QString original = m_ui->moviePath->text();
    const QString path = expandingTilde(original);
    if (path.isEmpty()) {
        lumivane::logLine("invalid path:  original is " + original.toStdString());
        m_ui->statusText->setText(tr("invalid path"));
        return;
    }

    // The callbacks of an earlier job's renderer, still finishing after a
    // cancel, do not reach this job.
    disownJobCallbacks();
    m_adapter = std::make_shared<AppControllerAdapter>();
    connectAdapter();

    auto settings = std::make_shared<lumivane::RenderSettings>();
    settings->setCodec(selectedOutputType().toStdString());
    settings->setAA(antialiasValue());
    settings->setMotionBlur(motionBlurSamples(motionBlurValue()));
    settings->setAppController(m_adapter);
    settings->setMoviePath(QFile::encodeName(path).toStdString());
    if (!m_compositionFile.isEmpty())
        settings->setCompositionFile(QFile::encodeName(m_compositionFile).toStdString());
    settings->setRecordButton(lumivane::ObjectReference{"recordButton"});
    m_defaults->commitEditing(m_ui->width);
    m_defaults->commitEditing(m_ui->height);
    settings->setWidth(m_ui->width->text().toStdString());
    settings->setHeight(m_ui->height->text().toStdString());
    settings->setQuality(m_ui->quality->currentIndex());
    settings->setFramerate(fieldValue(m_ui->framerate, kFrameRateKey, 30.0));
    settings->setDuration(fieldValue(m_ui->movieDuration, kDurationKey, kDefaultDuration));
    settings->setInputValues(lumivane::PlistValue(m_ui->dropView->propertyListFromInputValues()));
    settings->setStartTime(fieldValue(m_ui->startTime, kTimeOffsetKey, 0.0));
    settings->setTimeScale(fieldValue(m_ui->timeScale, kTimeScaleKey, 1.0));
    settings->setEvents(recordedEvents());

    disableControls();
    m_ui->startRecording->setText(tr("Cancel"));
    m_ui->parameterDrawer->hide();
    // A blanking report of an earlier cancel would end this job's watching.
    m_delayedReports->dropPending();

    auto* job = new RenderJob(settings, m_rendererPath, this);
    const lumivane::Result<void> started = job->start();
    if (!started.ok()) {
        delete job;
        enableControls();
        m_ui->statusText->setText(
            tr("The renderer cannot be started: %1").arg(QString::fromStdString(started.error())));
        lumivane::logLine(started.error());
        return;
    }
    m_job = job;
    m_renderStartTime = job->startTime();
    m_progress = 0;
    m_dockIcon->setWorking(true);
    m_dockIcon->setRendering(true, m_compositionFile);
    m_updateTimer = new QTimer(this);
    m_updateTimer->setInterval(kCheckupIntervalMs);
    connect(m_updateTimer, &QTimer::timeout, this, &AppController::encoderCheckup);
    m_updateTimer->start();
    encoderCheckup();
}

void AppController::connectAdapter() {
    AppControllerAdapter* adapter = m_adapter.get();
    connect(adapter, &AppControllerAdapter::statusIndicated, this, &AppController::indicateStatus);
    connect(adapter, &AppControllerAdapter::frameIndicated, this, &AppController::indicateFrame);
    connect(adapter, &AppControllerAdapter::errorIndicated, this, &AppController::indicateError);
    connect(adapter, &AppControllerAdapter::enableControlsRequested, this,
            &AppController::enableControls);
    connect(adapter, &AppControllerAdapter::renderingFinished, this,
            &AppController::finishedRendering);
}

void AppController::disownJobCallbacks() {
    if (m_adapter) m_adapter->disconnect(this);
}

void AppController::releaseJob() {
    RenderJob* job = std::exchange(m_job, nullptr);
    if (!job) return;
    // Deleting a job stops its renderer; one still finishing its movie (after
    // a cancel, or right after its last callback) goes once it has ended.
    if (job->isRunning())
        connect(job, &RenderJob::finished, job, &QObject::deleteLater);
    else
        job->deleteLater();
}

void AppController::encoderCheckup() {
    if (!m_job) return;
    if (!m_job->isRunning()) {
        // Ended without a report: killed, crashed or unable to connect.
        enableControls();
        m_ui->statusText->setText(
            localizedKey(QStringLiteral("Failed to create offscreen renderer")));
        m_dockIcon->setWorking(false);
    }
    m_ui->timeElapsed->setText(RenderProgressText::elapsedLine(
        lumivane::monotonicSeconds() - m_renderStartTime, m_progress));
}

void AppController::indicateFrame(int frame, int total) {
    const RenderProgressText::FrameStatusArguments arguments =
        RenderProgressText::frameStatusArguments(frame, total);
    m_progress = arguments.barValue;
    m_ui->encodeProgress->setValue(static_cast<int>(std::lround(m_progress * kProgressSteps)));
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    m_ui->statusText->setText(tr("frame status")
                                  .arg(locale.toString(arguments.frameNumber),
                                       locale.toString(arguments.frameCount),
                                       locale.toString(arguments.percentage, 'f', 1)));
}

void AppController::indicateStatus(const QString& statusKey) {
    m_ui->statusText->setText(localizedKey(statusKey));
}

void AppController::indicateError(const QString& errorKey) {
    enableControls();
    m_dockIcon->setWorking(false);
    m_ui->statusText->setText(localizedKey(errorKey));
}

void AppController::finishedRendering() {
    QApplication::alert(m_window.get());
    m_dockIcon->setWorking(false);
}

void AppController::cancelRendering() {
    // A report the renderer sent before it took the signal changes nothing.
    disownJobCallbacks();
    if (m_job) m_job->cancel();
    enableControls();
    m_delayedReports->scheduleCancelReports();
}

bool AppController::applicationShouldTerminate() {
    if (!m_job || !m_job->isRunning()) return true;
    if (m_quitAlert) return false;  // the question is already up
    auto* alert = new QMessageBox(m_window.get());
    alert->setObjectName(QStringLiteral("quitAlert"));
    alert->setIcon(QMessageBox::Warning);
    alert->setText(tr("Currently Rendering"));
    alert->setInformativeText(tr("Stop Rendering Informative Text"));
    QPushButton* cancel = alert->addButton(tr("Cancel"), QMessageBox::RejectRole);
    QPushButton* quit = alert->addButton(tr("Quit"), QMessageBox::DestructiveRole);
    alert->setDefaultButton(cancel);
    alert->setEscapeButton(cancel);
    alert->setWindowModality(Qt::WindowModal);
    connect(alert, &QMessageBox::finished, this, [this, alert, quit] {
        const bool quitting = alert->clickedButton() == quit;
        // A quit asked while this one ends (a second signal) asks anew.
        m_quitAlert = nullptr;
        alert->deleteLater();
        shouldStopRendering(quitting ? kSecondButtonReturn : kFirstButtonReturn);
    });
    m_quitAlert = alert;
    alert->open();
    return false;
}

void AppController::shouldStopRendering(int returnCode) {
    if (returnCode != kSecondButtonReturn) return;  // the job goes on
    // One SIGINT, the link closed, up to five one-second waits, then SIGKILL:
    // a second signal would cut the renderer's flush short.
    if (m_job) m_job->stopForQuit();
    emit quitApproved();
}

void AppController::terminate() {
    if (applicationShouldTerminate()) emit quitApproved();
}

void AppController::handleQuit() {
    // Sheets end without their default action.
    for (QDialog* sheet : m_window->findChildren<QDialog*>(Qt::FindDirectChildrenOnly))
        if (sheet->isVisible() && sheet->windowModality() == Qt::WindowModal) sheet->reject();
    terminate();
}

bool AppController::windowShouldClose() {
    // Commits a pending edit of a field before the application goes.
    if (m_ui->codec->isEnabled()) {
        disableControls();
        enableControls();
    }
    terminate();
    return false;
}
