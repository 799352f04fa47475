// The controller of the Lumivane application and of its main window: launch,
// the settings controls and their user defaults, the codec, quality and size
// menus, the control states around a render, the slider labels and slowdown
// warnings, the parameter drawer and preview toggles, and the drop view's
// delegate side (a composition opened, recording allowed, output proposed).
// Render jobs start here (the output path, the checks before a start, the
// overwrite question) and run in a RenderJobController, whose state decides
// what the Record button does.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

#include "app/controller/PreviewSoundtrack.h"
#include "app/view/CompositionDropViewDelegate.h"
#include "shared/RenderSettings.h"

class QAbstractButton;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMessageBox;
class QProgressBar;
class QTimer;
class AspectRatioFrame;
class CompositionDropView;
class DockIcon;
class QuitQuestion;
class RenderJob;
class RenderJobController;
class RecordInputWindow;
class OutputPath;
class SoundtrackField;
class SettingsControls;
class StatusLine;
class UserDefaults;

namespace Ui {
class MainWindow;
}

class AppController : public QObject, public CompositionDropViewDelegate {
    Q_OBJECT

public:
    // User-defaults keys of the window's settings.
    static constexpr const char* kMovieWidthKey = "movieWidth";
    static constexpr const char* kMovieHeightKey = "movieHeight";
    static constexpr const char* kSelectedPresetKey = "selectedPreset";
    static constexpr const char* kDurationKey = "duration";
    static constexpr const char* kFrameRateKey = "frameRate";
    static constexpr const char* kTimeOffsetKey = "timeOffset";
    static constexpr const char* kTimeScaleKey = "timeScale";
    static constexpr const char* kSelectedQualityKey = "selectedQuality";
    static constexpr const char* kSelectedCodecKey = "selectedCodec";
    static constexpr const char* kDisableQualityWarningKey = "disableQualityWarning";
    static constexpr const char* kDisableAAWarningKey = "disableAAWarning";

    // The sliders move in whole steps: the anti-aliasing factor is the
    // position / 2 (half steps, 1-8), the motion-blur value the position / 8
    // (eighths, 0-4), the resolution the blur mapping works on.
    static constexpr double kAntialiasSteps = 2.0;
    static constexpr double kMotionBlurSteps = 8.0;

    explicit AppController(QObject* parent = nullptr);
    ~AppController() override;

    QMainWindow* window() const { return m_window.get(); }

    // Titles the window, builds the menus and formatters, seeds the defaults
    // and starts the idle composition; run once before the window shows.
    void applicationWillFinishLaunching();

    // Opens a composition named on the command line or chosen in the Open
    // dialog; false (with the reason in the status line) when none opened.
    bool openFile(const QString& path);

    // The output type of the selected codec entry: a four-character code or a
    // sequence type identifier.
    QString selectedOutputType() const;
    static bool isSequenceType(const QString& outputType);
    // The output path adjusted to an output type: a sequence gets a directory,
    // a movie a file with the container's extension. Empty stays empty.
    static QString pathForOutputType(const QString& path, const QString& outputType,
                                     const QString& movieExtension = QStringLiteral("mov"));
    // Motion-blur samples per frame for a slider value.
    static int motionBlurSamples(double value);

    double antialiasValue() const;
    double motionBlurValue() const;
    QString compositionFile() const { return m_compositionFile; }

    // Accessors of the outlets the other parts use.
    QAbstractButton* previewEnabled() const override;
    CompositionDropView* dropView() const;
    QProgressBar* progress() const;
    QProgressBar* encodeProgress() const;
    QLabel* statusText() const;

    // The drop view's delegate.
    void setCompositionFile(const QString& path) override;
    void setCanRecord(bool flag) override;
    void setDefaultPath(const QString& path) override;

    // The Record Input window, created with the first composition; none
    // before.
    RecordInputWindow* recordInputWindow() const { return m_recordInputWindow.get(); }
    // Ends the Record Input sheet; its total time becomes the duration.
    void closeRecordInput();

    // The renderer started for each job; LumivaneCLI beside the application
    // unless set otherwise.
    QString rendererPath() const;
    void setRendererPath(const QString& path);
    // The running job, none while idle.
    const RenderJob* renderJob() const;
    RenderJobController* jobs() const { return m_jobs; }
    DockIcon* dockIcon() const { return m_dockIcon; }
    // The recording replayed by a render. The Record Input window's recording
    // view supplies it; until that window exists there is none.
    std::shared_ptr<const lumivane::EventArray> recordedEvents() const;

    // The preview's frame, letterboxed to the output size.
    AspectRatioFrame* previewFrame() const { return m_previewFrame; }

    // True when the application may quit now; false when a job runs, after
    // putting up the question whose answer decides.
    bool applicationShouldTerminate();
    // Closing the main window quits instead; always false.
    bool windowShouldClose();

signals:
    // The application is to quit now: nothing runs, or the renderer has been
    // stopped.
    void quitApproved();

public slots:
    void resolutionChanged(QObject* sender);
    void codecChanged(QObject* sender);
    void qualityChanged(QObject* sender);
    void aaChanged(QObject* sender);
    void mbChanged(QObject* sender);
    void toggleDrawer(QObject* sender);
    void togglePreview(QObject* sender);
    void showHelp(QObject* sender);
    void enableControls();
    void disableControls();
    void windowDidResize();
    void windowDidDeminiaturize();
    // Shows the Record Input sheet over the paused preview.
    void openRecordInput(QObject* sender);

    // Starts a job, or cancels the running one (the button then reads
    // "Cancel").
    void record(QObject* sender);
    // The output path chosen in a save sheet.
    void browse(QObject* sender);
    void savePanelDidEnd(int returnCode, const QString& chosenPath);
    // Starts the job for return code 1 (the default button); others do nothing.
    void saveSheet(int returnCode);
    // Every 0.5 s while a job runs: elapsed and remaining time, dead renderer.
    void encoderCheckup();
    // The renderer's callbacks.
    void indicateFrame(int frame, int total);
    void indicateStatus(const QString& statusKey);
    void indicateError(const QString& errorKey);
    void finishedRendering();
    void shouldStopRendering(int returnCode);
    // A quit from the menu, the desktop session or a signal: ends open sheets,
    // then asks to quit.
    void handleQuit();
    // Quits now, or asks first while a job runs.
    void terminate();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectControls();
    void connectJobs();
    void seedDefault(const char* key, double value);
    // Opens or closes the drawer, with its button in step.
    void setDrawerOpen(bool open);
    // Leaves no trace of a composition that did not open: the drawer closes,
    // recording is off, the duration is the default again; the status line
    // names the file and its tool tip gives the reason.
    void compositionFailedToOpen(const QString& path, const QString& reason);
    // The job's end as the window shows it.
    void jobEnded(const QString& status, const QString& details);
    // Why the job the controls describe cannot make its output; false (with
    // the reason shown) when it cannot.
    bool outputCanBeMade(const QString& path);
    void outputSizeChanged();
    // The previews hear the Soundtrack field's file once typing pauses.
    void connectPreviewSoundtrack();
    void previewSoundtrackChanged();
    void chooseCompositionToOpen();
    void cancelRendering();

    // The form outlives the window: closing the window sends events to our
    // filter, which reads the form's widgets.
    std::unique_ptr<Ui::MainWindow> m_ui;
    std::unique_ptr<QMainWindow> m_window;
    UserDefaults* m_defaults = nullptr;
    std::unique_ptr<StatusLine> m_status;
    std::unique_ptr<SettingsControls> m_settings;
    std::unique_ptr<OutputPath> m_outputPath;
    SoundtrackField* m_soundtrack = nullptr;  // a child of this controller
    AspectRatioFrame* m_previewFrame = nullptr;
    QString m_compositionFile;
    std::unique_ptr<RecordInputWindow> m_recordInputWindow;
    PreviewSoundtrack m_previewSoundtrack;
    QTimer* m_soundtrackSettle = nullptr;  // a child of this controller
    DockIcon* m_dockIcon = nullptr;
    RenderJobController* m_jobs = nullptr;
    // The drawer was open when a job or the Record Input sheet closed it.
    bool m_drawerOpenBeforeJob = false;
    bool m_drawerOpenBeforeSheet = false;
    QuitQuestion* m_quit = nullptr;
    // Set while the anti-aliasing slider's mouse release is handled.
    bool m_handlingSliderRelease = false;
};
