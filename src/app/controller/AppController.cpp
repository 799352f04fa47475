#include "app/controller/AppController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QWindowStateChangeEvent>

#include <cmath>

#include "app/controller/AppResources.h"
#include "app/controller/OBNumberFormatter.h"
#include "app/controller/OutputMenus.h"
#include "app/controller/OutputPath.h"
#include "app/controller/OutputPreflight.h"
#include "app/controller/QuitQuestion.h"
#include "app/controller/SettingsControls.h"
#include "app/controller/SoundtrackField.h"
#include "app/controller/StatusLine.h"
#include "app/controller/UserDefaults.h"
#include "app/job/DockIcon.h"
#include "app/job/RenderJob.h"
#include "app/job/RenderJobController.h"
#include "app/recording/RecordInputView.h"
#include "app/recording/RecordInputWindow.h"
#include "app/view/AspectRatioFrame.h"
#include "app/view/CompositionDropView.h"
#include "app/view/ParameterView.h"
#include "app/view/PathText.h"
#include "app/view/Sheets.h"
#include "base/Log.h"
#include "base/Version.h"
#include "ui_MainWindow.h"

namespace {

// The preview's rate while the idle composition shows.
constexpr double kIdleFrameRate = 60.0;
// The preview's rate for an opened composition.
constexpr double kCompositionFrameRate = 12.0;
constexpr double kDefaultDuration = 10.0;
// encodeProgress runs over 0..kProgressSteps for 0.0..1.0.
constexpr double kProgressSteps = 10000.0;
// The return code of an alert's default button.
constexpr int kDefaultReturn = 1;

QString versionString() {
    return QString::fromLatin1(lumivane::kVersionText);
}

}  // namespace

AppController::AppController(QObject* parent)
    : QObject(parent),
      m_ui(std::make_unique<Ui::MainWindow>()),
      m_window(std::make_unique<QMainWindow>()),
      m_defaults(new UserDefaults(this)),
      m_dockIcon(new DockIcon(QIcon(AppResources::iconPath(QStringLiteral("Lumivane"))),
                              QIcon(AppResources::iconPath(QStringLiteral("LumivaneWorking"))),
                              this)),
      m_jobs(new RenderJobController(m_dockIcon, AppResources::rendererPath(), this)),
      m_quit(new QuitQuestion(m_window.get(), m_jobs, this)) {
    m_ui->setupUi(m_window.get());
    m_status = std::make_unique<StatusLine>(m_ui->statusText);
    m_settings = std::make_unique<SettingsControls>(m_ui.get(), m_defaults);
    m_outputPath = std::make_unique<OutputPath>(m_ui->moviePath);
    m_soundtrack = new SoundtrackField(m_ui->soundtrack, m_ui->soundtrackButton, m_defaults, this);
    m_previewFrame = AspectRatioFrame::wrap(m_ui->dropView);
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
    connectControls();
    connectJobs();
}

void AppController::connectControls() {
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
    connect(m_ui->width, &QLineEdit::textChanged, this, &AppController::outputSizeChanged);
    connect(m_ui->height, &QLineEdit::textChanged, this, &AppController::outputSizeChanged);
    connect(m_ui->dropView, &CompositionDropView::compositionLoadFailed, this,
            &AppController::compositionFailedToOpen);
    connect(m_ui->actionOpen, &QAction::triggered, this, &AppController::chooseCompositionToOpen);
    connect(m_ui->actionQuit, &QAction::triggered, this, &AppController::terminate);
    connect(m_ui->actionHelp, &QAction::triggered, this, [this] { showHelp(m_ui->actionHelp); });
    connect(m_ui->startRecording, &QAbstractButton::clicked, this,
            [this] { record(m_ui->startRecording); });
    connect(m_ui->browseButton, &QAbstractButton::clicked, this,
            [this] { browse(m_ui->browseButton); });
}

void AppController::connectJobs() {
    connect(m_jobs, &RenderJobController::jobEnded, this, &AppController::jobEnded);
    connect(m_jobs, &RenderJobController::statusChanged, this,
            [this](const QString& status) { m_status->show(status); });
    connect(m_jobs, &RenderJobController::progressChanged, this, [this](double value) {
        m_ui->encodeProgress->setValue(static_cast<int>(std::lround(value * kProgressSteps)));
    });
    connect(m_jobs, &RenderJobController::elapsedChanged, m_ui->timeElapsed, &QLabel::setText);
    connect(m_jobs, &RenderJobController::attentionRequested, this,
            [this] { QApplication::alert(m_window.get()); });
    connect(m_dockIcon, &DockIcon::cancelRequested, this, [this] {
        // A menu built while a job ran may be chosen after it ended.
        if (m_jobs->isRunning()) cancelRendering();
    });
    connect(m_quit, &QuitQuestion::quitApproved, this, &AppController::quitApproved);
}

AppController::~AppController() {
    // The drop view keeps a pointer to its delegate; end that before going.
    m_ui->dropView->setDelegate(nullptr);
}

QString AppController::rendererPath() const {
    return m_jobs->rendererPath();
}

void AppController::setRendererPath(const QString& path) {
    m_jobs->setRendererPath(path);
}

const RenderJob* AppController::renderJob() const {
    return m_jobs->job();
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
    m_previewSoundtrack.addView(view);
    connectPreviewSoundtrack();
    view->startRendering();

    m_settings->setUpFormatters();
    m_ui->codec->clear();
    m_ui->quality->clear();
    OutputMenus::buildQualityMenu(m_ui->quality);
    OutputMenus::buildCodecMenu(m_ui->codec);

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
    outputSizeChanged();
}

void AppController::seedDefault(const char* key, double value) {
    if (!m_defaults->contains(key)) m_defaults->setValue(key, value);
}

void AppController::outputSizeChanged() {
    // The preview shows the output's proportions; a size being typed keeps
    // the last whole one.
    const int width = m_ui->width->text().toInt();
    const int height = m_ui->height->text().toInt();
    if (width < 1 || height < 1) return;
    m_previewFrame->setAspectSize(QSize(width, height));
    if (m_recordInputWindow) m_recordInputWindow->setOutputSize(QSize(width, height));
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
        compositionFailedToOpen(path, error.isEmpty() ? tr("Could not open %1").arg(path) : error);
        return false;
    }
    view->setMaxRenderingFrameRate(kCompositionFrameRate);
    setCompositionFile(path);
    setCanRecord(true);
    setDefaultPath(lumivane::deletingPathExtensionOf(path) + '.' +
                   OutputMenus::movieExtension(m_ui->codec));
    m_window->setWindowTitle(
        QStringLiteral("Lumivane v%1 - %2").arg(versionString(), QFileInfo(path).fileName()));
    return true;
}

void AppController::compositionFailedToOpen(const QString& path, const QString& reason) {
    setCanRecord(false);
    setDefaultPath(QString());
    m_window->setWindowTitle(QStringLiteral("Lumivane"));
    // The drawer held the inputs of a composition that is no longer shown.
    m_ui->parameterView->setCompositionRenderer(m_ui->dropView);
    setDrawerOpen(false);
    m_defaults->setValue(kDurationKey, kDefaultDuration);
    m_status->reportBriefly(
        tr("Could not open \u201c%1\u201d").arg(lumivane::lastPathComponentOf(path)), reason);
}

void AppController::chooseCompositionToOpen() {
    const QString path = QFileDialog::getOpenFileName(m_window.get(), tr("Open Composition"),
                                                      QFileInfo(m_compositionFile).absolutePath(),
                                                      tr("Compositions (*.qtz)"));
    if (!path.isEmpty()) openFile(path);
}

QString AppController::selectedOutputType() const {
    return m_settings->selectedOutputType();
}

bool AppController::isSequenceType(const QString& outputType) {
    return OutputMenus::isSequenceType(outputType);
}

QString AppController::pathForOutputType(const QString& path, const QString& outputType,
                                         const QString& movieExtension) {
    return OutputMenus::pathForOutputType(path, outputType, movieExtension);
}

int AppController::motionBlurSamples(double value) {
    return OutputMenus::motionBlurSamples(value);
}

double AppController::antialiasValue() const {
    return m_settings->antialiasValue();
}

double AppController::motionBlurValue() const {
    return m_settings->motionBlurValue();
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
    m_settings->resolutionChanged(sender);
}

void AppController::codecChanged(QObject* /*sender*/) {
    m_outputPath->adjustToType(selectedOutputType(), OutputMenus::movieExtension(m_ui->codec));
}

void AppController::qualityChanged(QObject* /*sender*/) {
    m_settings->qualityChanged();
}

void AppController::aaChanged(QObject* /*sender*/) {
    m_settings->showAntialiasLabel(m_handlingSliderRelease);
}

void AppController::mbChanged(QObject* /*sender*/) {
    m_settings->showMotionBlurLabel();
}

void AppController::setDrawerOpen(bool open) {
    m_ui->parameterDrawer->setVisible(open);
    m_ui->toggleDrawer->setChecked(open);
}

void AppController::toggleDrawer(QObject* /*sender*/) {
    setDrawerOpen(m_ui->parameterDrawer->isHidden());
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
    if (!QFileInfo::exists(page) || !QDesktopServices::openUrl(QUrl::fromLocalFile(page)))
        m_status->report(tr("Could not open the help page %1").arg(page));
}

void AppController::disableControls() {
    m_settings->setControlsEnabled(false, !m_compositionFile.isEmpty());
    m_ui->encodeProgress->setValue(0);
    m_ui->encodeProgress->show();
    m_ui->progress->show();
    CompositionDropView* view = m_ui->dropView;
    if (view->isRendering() && !view->isPausedRendering()) view->pauseRendering();
    m_ui->startRecording->setText(tr("Cancel"));
}

void AppController::enableControls() {
    // The job's state goes first: the title below follows it.
    m_jobs->release();
    m_settings->setControlsEnabled(true, !m_compositionFile.isEmpty());
    m_status->clear();
    m_ui->timeElapsed->clear();
    m_ui->encodeProgress->hide();
    m_ui->progress->hide();
    CompositionDropView* view = m_ui->dropView;
    if (view->isRendering() && view->isPausedRendering() && m_ui->previewEnabled->isChecked())
        view->resumeRendering();
    // The drawer a job closed opens again, its button with it.
    if (std::exchange(m_drawerOpenBeforeJob, false)) setDrawerOpen(true);
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
        connect(m_recordInputWindow.get(), &RecordInputWindow::closeRequested, this,
                &AppController::closeRecordInput);
        m_previewSoundtrack.addView(m_recordInputWindow->inputView());
        outputSizeChanged();
    }
    // Loads the composition's recording.
    m_recordInputWindow->setCompositionFile(path);
    const double totalSec = m_recordInputWindow->totalSec();
    m_defaults->setValue(kDurationKey, totalSec > 0.0 ? totalSec : kDefaultDuration);
    m_ui->parameterView->setCompositionRenderer(m_ui->dropView);
    if (m_ui->parameterView->hasParameters()) {
        m_ui->noParametersLabel->hide();
        setDrawerOpen(true);
    } else {
        m_ui->noParametersLabel->setText(tr("This composition has no published input parameters."));
        m_ui->noParametersLabel->show();
        setDrawerOpen(false);
    }
}

void AppController::connectPreviewSoundtrack() {
    m_soundtrackSettle = new QTimer(this);
    m_soundtrackSettle->setSingleShot(true);
    m_soundtrackSettle->setInterval(300);
    // A drop, the file dialog and the clear button change it as typing does.
    connect(m_soundtrack, &SoundtrackField::changed, m_soundtrackSettle,
            qOverload<>(&QTimer::start));
    connect(m_soundtrackSettle, &QTimer::timeout, this, &AppController::previewSoundtrackChanged);
    previewSoundtrackChanged();
}

void AppController::previewSoundtrackChanged() {
    const QString path = m_soundtrack->path();
    if (path == m_previewSoundtrack.path()) return;
    // The render refuses such a file with its reason; the preview stays silent.
    if (auto problem = m_previewSoundtrack.setPath(path))
        lumivane::logLine("The preview cannot hear the soundtrack: " + problem->toStdString());
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
    m_drawerOpenBeforeSheet = m_ui->parameterDrawer->isVisible();
    setDrawerOpen(false);
    // The sheet carries its own menu: the main menu bar cannot be reached
    // while a window-modal sheet is up.
    m_recordInputWindow->window()->show();
}

void AppController::closeRecordInput() {
    if (!m_recordInputWindow) return;
    m_recordInputWindow->window()->hide();
    const double totalSec = m_recordInputWindow->totalSec();
    if (totalSec > 0) m_defaults->setValue(kDurationKey, totalSec);
    CompositionDropView* view = m_ui->dropView;
    if (view->isRendering() && view->isPausedRendering() && m_ui->previewEnabled->isChecked())
        view->resumeRendering();
    if (std::exchange(m_drawerOpenBeforeSheet, false)) setDrawerOpen(true);
}

void AppController::setCanRecord(bool flag) {
    m_ui->startRecording->setEnabled(flag);
    m_ui->startRecordingInput->setEnabled(flag);
}

void AppController::setDefaultPath(const QString& path) {
    m_outputPath->propose(path, selectedOutputType());
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

void AppController::browse(QObject* /*sender*/) {
    m_outputPath->openSavePanel(m_window.get(), selectedOutputType(),
                                OutputMenus::movieExtension(m_ui->codec),
                                [this](bool chosen, const QString& path) {
                                    savePanelDidEnd(chosen ? kDefaultReturn : 0, path);
                                });
}

void AppController::savePanelDidEnd(int returnCode, const QString& chosenPath) {
    if (returnCode != kDefaultReturn || chosenPath.isEmpty()) return;
    m_outputPath->takeChosen(chosenPath, selectedOutputType(),
                             OutputMenus::movieExtension(m_ui->codec));
}

bool AppController::outputCanBeMade(const QString& path) {
    const std::optional<OutputRefusal> refusal = outputRefusal(m_settings->outputRequest(path));
    if (refusal) m_status->report(refusal->text, refusal->details);
    return !refusal;
}

void AppController::record(QObject* /*sender*/) {
    // The job's state decides; the button's title only follows it.
    if (m_jobs->isRunning()) {
        cancelRendering();
        return;
    }
    const QString path = m_outputPath->expanded();
    if (path.isEmpty()) return;
    // Nothing is asked, launched or written for a job that cannot succeed.
    if (!outputCanBeMade(path)) return;
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
        saveSheet(kDefaultReturn);
        return;
    }
    // The existing output is replaced by the renderer, never removed here.
    showSheet(m_window.get(), QStringLiteral("replaceAlert"),
              {QMessageBox::Critical, tr("File Exists").arg(lumivane::lastPathComponentOf(path)),
               tr("Replace Informative Text")},
              {{tr("Replace"), QMessageBox::AcceptRole}, {tr("Cancel"), QMessageBox::RejectRole}},
              0, 1, [this](int button) { saveSheet(button == 0 ? kDefaultReturn : 0); });
}

void AppController::saveSheet(int returnCode) {
    if (returnCode != kDefaultReturn) return;
    const QString original = m_ui->moviePath->text();
    const QString path = m_outputPath->expanded();
    if (path.isEmpty()) {
        lumivane::logLine("invalid path:  original is " + original.toStdString());
        m_status->show(tr("invalid path"));
        return;
    }

    auto settings = m_settings->renderSettings(path, m_compositionFile);
    settings->setInputValues(lumivane::PlistValue(m_ui->dropView->propertyListFromInputValues()));
    settings->setEvents(recordedEvents());

    disableControls();
    m_drawerOpenBeforeJob = m_ui->parameterDrawer->isVisible();
    setDrawerOpen(false);
    const lumivane::Result<void> started = m_jobs->start(settings, m_compositionFile);
    if (!started.ok()) {
        enableControls();
        m_status->report(tr("The renderer cannot be started"),
                         QString::fromStdString(started.error()));
    }
}

void AppController::jobEnded(const QString& status, const QString& details) {
    enableControls();
    // The renderer has logged its reason itself.
    m_status->show(status, details);
}

void AppController::encoderCheckup() {
    m_jobs->encoderCheckup();
}

void AppController::indicateFrame(int frame, int total) {
    m_jobs->indicateFrame(frame, total);
}

void AppController::indicateStatus(const QString& statusKey) {
    m_jobs->indicateStatus(statusKey);
}

void AppController::indicateError(const QString& errorKey) {
    m_jobs->indicateError(errorKey);
}

void AppController::finishedRendering() {
    m_jobs->finishedRendering();
}

void AppController::cancelRendering() {
    m_jobs->cancel();
}

bool AppController::applicationShouldTerminate() {
    return m_quit->applicationShouldTerminate();
}

void AppController::shouldStopRendering(int returnCode) {
    m_quit->shouldStopRendering(returnCode);
}

void AppController::terminate() {
    m_quit->terminate();
}

void AppController::handleQuit() {
    m_quit->handleQuit();
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
