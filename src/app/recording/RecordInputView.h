// The composition view inside the Record Input window: the same live preview
// as the main window's, which captures the user's mouse and keyboard input
// into clips while the window records, merges each finished clip into the
// recording (adding to it or replacing its time span), and replays the
// recording up to the window's playhead. It keeps no clock: every time comes
// from the window's playhead.
#pragma once

#include <QTimer>

#include <cstdint>
#include <memory>

#include "app/CompositionDropView.h"
#include "app/recording/RecordingTimeline.h"

class RecordInputWindow;

class RecordInputView : public CompositionDropView {
    Q_OBJECT

public:
    explicit RecordInputView(QWidget* parent = nullptr);
    ~RecordInputView() override;

    // The window whose playhead and indicators the view uses (not owned).
    void setRecordInputWindow(RecordInputWindow* window);
    RecordInputWindow* recordInputWindow() const { return m_recordInputWindow; }

    const lumivane::RecordedEntries& events() const { return m_events; }
    void setEvents(lumivane::RecordedEntries events);
    const lumivane::RecordedEntries& eventsInClip() const { return m_eventsInClip; }

    bool isRecording() const { return m_isRecording; }
    void setIsRecording(bool flag);
    // Replace mode when true, add mode when false.
    bool overwrite() const { return m_overwrite; }
    void setOverwrite(bool flag);
    uint32_t nextEventPlaybackIndex() const { return m_nextEventPlaybackIndex; }
    lumivane::Point mouseLocation() const { return m_mouseLocation; }

    // The base view's rendering control, tied to clips and playback. Start
    // returns whether the view renders now.
    bool startRendering();
    void pauseRendering();
    void resumeRendering();

    // The normalized location of a point in the window (origin bottom-left).
    lumivane::Point normalizedLocationOf(lumivane::Point locationInWindow) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    enum class Indicator {
        None,
        KeyDown,
        KeyUp,
        KeyInstantaneous,
        MouseDown,
        MouseUp,
        MouseInstantaneous
    };

    // The eight handlers' common path: drop the event unless recording and
    // running, else record it, report it and hand it to the composition.
    void capture(std::shared_ptr<const lumivane::Event> event, Indicator indicator);
    bool capturing() const;
    void addEvent(std::shared_ptr<const lumivane::Event> event);
    void report(Indicator indicator);
    void startClip();
    void endClip();
    void startPlayback();
    void endPlayback();
    void playbackEventsToPlayhead();
    void deliverRecorded(const lumivane::RecordedEventEntry& entry);
    void sendSyntheticMouseMoved();
    double playheadSec() const;

    lumivane::RecordedEntries m_events;
    lumivane::RecordedEntries m_eventsInClip;
    double m_clipStartTime = 0;
    lumivane::Point m_mouseLocation;
    bool m_isRecording = false;
    uint32_t m_nextEventPlaybackIndex = 0;
    QTimer m_playbackTimer;
    bool m_overwrite = false;
    RecordInputWindow* m_recordInputWindow = nullptr;
    uint32_t m_heldModifiers = 0;
};
