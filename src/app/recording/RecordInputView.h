// The composition view inside the Record Input window: the same live preview
// as the main window's, which captures the user's mouse and keyboard input
// into clips while the window records, merges each finished clip into the
// recording (adding to it or replacing its time span), and replays the
// recording up to the window's playhead. It keeps no clock: every time comes
// from the window's playhead, and every captured or replayed event is
// reported for the window's activity indicators.
//
// A held key records as one key-down, the keyboard's repeats as key-downs
// marked as repeats with no key-up between them, and one key-up at the
// release, whichever way the window system delivers the repeats (X11 sends
// each as a release and a press with the same time stamp, flagged as a
// repeat or not), so that it replays as held.
#pragma once

#include <QSet>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/recording/RecordingTimeline.h"
#include "app/view/CompositionDropView.h"

class RecordInputView : public CompositionDropView {
    Q_OBJECT

public:
    enum class Indicator {
        None,
        KeyDown,
        KeyUp,
        KeyInstantaneous,
        MouseDown,
        MouseUp,
        MouseInstantaneous
    };

    explicit RecordInputView(QWidget* parent = nullptr);
    ~RecordInputView() override;

    // Where the playhead is read; 0 without one.
    void setPlayheadSource(std::function<double()> playhead);

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

signals:
    // A captured or replayed event, for the activity indicators.
    void activity(RecordInputView::Indicator indicator);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    // The soundtrack plays along with the recording's timeline.
    std::optional<double> audioTime() const override;

private:
    // A key release that may be the first half of an auto-repeat pair: it is
    // recorded (at its own time) only once no press of the same key with the
    // same time stamp has followed it.
    struct PendingRelease {
        int key;
        quint64 timestamp;
        std::shared_ptr<const lumivane::Event> event;
        double eventTime;
    };

    // The eight handlers' common path: drop the event unless recording and
    // running, else record it, report it and hand it to the composition.
    void capture(std::shared_ptr<const lumivane::Event> event, Indicator indicator);
    bool capturing() const;
    void addEvent(std::shared_ptr<const lumivane::Event> event);
    void addEventAt(std::shared_ptr<const lumivane::Event> event, double eventTime);
    void commitPendingRelease();
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
    std::function<double()> m_playhead;
    uint32_t m_heldModifiers = 0;
    // Keys down in the current capture, by toolkit key code.
    QSet<int> m_heldKeys;
    std::optional<PendingRelease> m_pendingRelease;
    QTimer m_releaseTimer;
};
