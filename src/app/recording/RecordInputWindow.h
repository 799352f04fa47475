// The controller of the Record Input window: a tape transport (go to
// beginning, record, play, pause, done, clear, add or replace mode) over the
// recording view, with a segment-style time display, a status text and two
// activity indicators. It owns the playhead and the total recording time,
// loads and saves the recording beside the composition, and tells the view
// when to start, pause, resume and stop. The window shows as a sheet on the
// main window and carries its own menu bar: a window-modal sheet leaves the
// main window's menu bar out of reach.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QSize>
#include <QString>

#include <memory>

#include "app/recording/RecordInputView.h"
#include "base/Result.h"

class AspectRatioFrame;
class LCDText;
class QAction;
class QComboBox;
class QDialog;
class QMenu;
class QPushButton;
class QTimer;

namespace Ui {
class RecordInputWindow;
}

class RecordInputWindow : public QObject {
    Q_OBJECT

public:
    // Items of the record-mode pop-up button.
    static constexpr int kRecordModeAddButton = 0;
    static constexpr int kRecordModeReplaceButton = 1;
    // Return codes of the sheets' buttons, first button first.
    static constexpr int kFirstButtonReturn = 1000;
    static constexpr int kSecondButtonReturn = 1001;

    // A window-modal sheet on `sheetParent` (the main window), or a window of
    // its own without one.
    explicit RecordInputWindow(QWidget* sheetParent = nullptr, QObject* parent = nullptr);
    ~RecordInputWindow() override;

    QDialog* window() const { return m_window.get(); }
    RecordInputView* inputView() const;
    // The window's top-level menu, in the window's own menu bar.
    QAction* menuItem() const;
    // The output size, whose proportions the recording view keeps.
    void setOutputSize(const QSize& size);

    // Keeps the path and loads its recording; the composition itself loads
    // at the next reset.
    void setCompositionFile(const QString& path);
    QString compositionFile() const { return m_compositionFile; }

    // The opening state: playhead at 0, idle, the first frame shown.
    void reset();
    double totalSec() const { return m_totalSec; }
    double playheadSec() const;
    bool isRecording() const { return m_isRecording; }

    // Enabled state of a menu item of the window's menu.
    bool validateMenuItem(QAction* item) const;

signals:
    // Done: the controller that shows the window is to take it down.
    void closeRequested();

public:
    // Activity indicators, reported by the view for every captured or
    // replayed event.
    void keyDownEvent();
    void keyUpEvent();
    void keyInstantaneousEvent();
    void mouseDownEvent();
    void mouseUpEvent();
    void mouseInstantaneousEvent();

public slots:
    void record(QObject* sender = nullptr);
    void play(QObject* sender = nullptr);
    void pause(QObject* sender = nullptr);
    void goToBeginning(QObject* sender = nullptr);
    void done(QObject* sender = nullptr);
    void clear(QObject* sender = nullptr);
    void recordModeAdd(QObject* sender = nullptr);
    void recordModeReplace(QObject* sender = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void windowDidLoad();
    void showFirstFrame();
    void setOverwrite(bool flag);
    void startRecordingOrPlaying(bool recording);
    void refreshTime();
    void refreshPlayhead();
    void stopTimer();
    void loadEvents();
    lumivane::Result<void> saveEvents();
    void indicate(RecordInputView::Indicator indicator);
    void shouldDone(int returnCode);
    void shouldClear(int returnCode);
    void closeWindow();
    void validateMenuItems();
    void setTimeDisplay(double seconds);
    bool viewHoldsEvents() const;

    std::unique_ptr<QDialog> m_window;
    std::unique_ptr<Ui::RecordInputWindow> m_ui;
    AspectRatioFrame* m_viewFrame = nullptr;
    QMenu* m_menu = nullptr;
    QMenu* m_recordModeMenu = nullptr;
    QString m_compositionFile;
    bool m_compositionChanged = false;
    // The refresh timer, none while the transport stands still; the
    // reference date is the moment up to which m_playheadSec is accounted.
    std::unique_ptr<QTimer> m_timer;
    QElapsedTimer m_referenceDate;
    // Ends of the indicators' flashes; a press while one runs cancels it, so
    // a held key or button stays lit.
    QTimer* m_keyFlash = nullptr;
    QTimer* m_mouseFlash = nullptr;
    double m_playheadSec = 0;
    double m_totalSec = 0;
    bool m_isRecording = false;
};
