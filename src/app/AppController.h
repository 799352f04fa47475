// The controller of the Lumivane application and of its main window: launch,
// the settings controls and their user defaults, the codec, quality and size
// menus, the control states around a render, the slider labels and slowdown
// warnings, the parameter drawer and preview toggles, and the drop view's
// delegate side (a composition opened, recording allowed, output proposed).
#pragma once

#include <QObject>
#include <QString>

#include <memory>

#include "app/CompositionDropViewDelegate.h"

class QAbstractButton;
class QLabel;
class QMainWindow;
class QProcess;
class QProgressBar;
class QTimer;
class CompositionDropView;
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
    // a movie a ".mov" file. Empty stays empty.
    static QString pathForOutputType(const QString& path, const QString& outputType);
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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildCodecMenu();
    void seedDefault(const char* key, double value);
    // Shows the slowdown alert unless its key is set; ticking its check box
    // sets the key.
    void warnSlowdown(const QString& informativeText, const char* disableKey);
    void chooseCompositionToOpen();

    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<Ui::MainWindow> m_ui;
    UserDefaults* m_defaults = nullptr;
    QString m_compositionFile;
    // The running render job's child and checkup timer (none while idle).
    QProcess* m_encoderTask = nullptr;
    QTimer* m_updateTimer = nullptr;
    // Set while the anti-aliasing slider's mouse release is handled.
    bool m_handlingSliderRelease = false;
};
