#include "app/recording/RecordInputView.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWindow>

#include "app/view/InputEventConversion.h"
#include "platform/events/OBEvent.h"

using namespace lumivane;

namespace {

constexpr double kMaxFrameRate = 30.0;
constexpr int kPlaybackIntervalMs = 1000 / 30;
// Every event kind the recording view hands to its composition.
constexpr unsigned kAllEvents = ~0u;
// How long a key release waits for the press that would make it half of an
// auto-repeat pair. The pair leaves the X server together; a person cannot
// release and press a key again this fast.
constexpr int kRepeatPairWaitMs = 30;

}  // namespace

RecordInputView::RecordInputView(QWidget* parent) : CompositionDropView(parent) {
    setObjectName(QStringLiteral("inputView"));
    // The window decides when it runs; nothing is dropped onto it.
    setAutostartsRendering(false);
    setMaxRenderingFrameRate(kMaxFrameRate);
    setAcceptDrops(false);
    setEventForwardingMask(kAllEvents);
    m_playbackTimer.setInterval(kPlaybackIntervalMs);
    m_playbackTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_playbackTimer, &QTimer::timeout, this, &RecordInputView::playbackEventsToPlayhead);
    m_releaseTimer.setSingleShot(true);
    m_releaseTimer.setInterval(kRepeatPairWaitMs);
    connect(&m_releaseTimer, &QTimer::timeout, this, &RecordInputView::commitPendingRelease);
}

RecordInputView::~RecordInputView() = default;

void RecordInputView::setPlayheadSource(std::function<double()> playhead) {
    m_playhead = std::move(playhead);
}

void RecordInputView::setEvents(RecordedEntries events) {
    m_events = std::move(events);
    m_nextEventPlaybackIndex = 0;
}

void RecordInputView::setIsRecording(bool flag) {
    m_isRecording = flag;
}

void RecordInputView::setOverwrite(bool flag) {
    m_overwrite = flag;
}

double RecordInputView::playheadSec() const {
    return m_playhead ? m_playhead() : 0.0;
}

std::optional<double> RecordInputView::audioTime() const {
    if (!m_playhead) return std::nullopt;
    return m_playhead();
}

bool RecordInputView::startRendering() {
    CompositionDropView::startRendering();
    const bool started = isRendering();
    m_nextEventPlaybackIndex = 0;
    if (m_isRecording) startClip();
    if (!m_isRecording || !m_overwrite) startPlayback();
    sendSyntheticMouseMoved();
    return started;
}

void RecordInputView::pauseRendering() {
    // A release still waiting belongs to the clip that ends now.
    commitPendingRelease();
    if (m_isRecording) endClip();
    if (!m_isRecording || !m_overwrite) endPlayback();
    CompositionDropView::pauseRendering();
}

void RecordInputView::resumeRendering() {
    CompositionDropView::resumeRendering();
    if (m_isRecording) startClip();
    if (!m_isRecording || !m_overwrite) startPlayback();
    sendSyntheticMouseMoved();
}

void RecordInputView::startClip() {
    m_clipStartTime = playheadSec();
    m_eventsInClip.clear();
    m_heldKeys.clear();
}

void RecordInputView::endClip() {
    m_nextEventPlaybackIndex =
        mergeClip(m_events, m_eventsInClip, m_clipStartTime, playheadSec(), m_overwrite);
}

void RecordInputView::startPlayback() {
    playbackEventsToPlayhead();
    m_playbackTimer.start();
}

void RecordInputView::endPlayback() {
    m_playbackTimer.stop();
}

void RecordInputView::playbackEventsToPlayhead() {
    m_nextEventPlaybackIndex =
        playbackEntriesToTime(m_events, m_nextEventPlaybackIndex, playheadSec(),
                              [this](const RecordedEventEntry& entry) { deliverRecorded(entry); });
}

void RecordInputView::deliverRecorded(const RecordedEventEntry& entry) {
    if (!entry.event) return;
    Indicator indicator = Indicator::None;
    switch (entry.event->type()) {
        case NSLeftMouseDown:
        case NSRightMouseDown:
        case NSOtherMouseDown:
            indicator = Indicator::MouseDown;
            break;
        case NSLeftMouseUp:
        case NSRightMouseUp:
        case NSOtherMouseUp:
            indicator = Indicator::MouseUp;
            break;
        case NSMouseMoved:
        case NSScrollWheel:
            indicator = Indicator::MouseInstantaneous;
            break;
        case NSLeftMouseDragged:
        case NSRightMouseDragged:
        case NSOtherMouseDragged:
            break;
        case NSKeyDown:
            indicator = Indicator::KeyDown;
            break;
        case NSKeyUp:
            indicator = Indicator::KeyUp;
            break;
        case NSFlagsChanged:
            indicator = Indicator::KeyInstantaneous;
            break;
        default:
            return;  // no handler takes it: the entry only advances the index
    }
    // Events rebuilt from a file belong to no window until delivered; they
    // were made mutable by their factory, so attaching one is sound.
    if (auto rebuilt =
            std::dynamic_pointer_cast<OBEvent>(std::const_pointer_cast<Event>(entry.event))) {
        const QWindow* handle = window()->windowHandle();
        rebuilt->setWindow(window(), handle ? int(handle->winId()) : 0);
    }
    report(indicator);
    // Straight to the composition, never through capture. Mouse kinds place
    // the pointer where the event happened; the others leave it.
    std::optional<Point> location;
    if (isMouseEventType(entry.event->type()))
        location = normalizedLocationOf(entry.event->locationInWindow());
    deliverEvent(entry.event, location);
}

Point RecordInputView::normalizedLocationOf(Point locationInWindow) const {
    const QWidget* top = window();
    const QPoint origin = mapTo(top, QPoint(0, 0));
    // The view's bottom edge, measured from the window's bottom.
    const double bottom = double(top->height() - (origin.y() + height()));
    return normalizedMouseLocation(double(locationInWindow.x) - origin.x(),
                                   double(locationInWindow.y) - bottom, width(), height());
}

bool RecordInputView::capturing() const {
    return m_isRecording && isRendering() && !isPausedRendering();
}

void RecordInputView::capture(std::shared_ptr<const Event> event, Indicator indicator) {
    // Whatever comes after a release shows it was a release.
    commitPendingRelease();
    if (!capturing()) return;
    addEvent(event);
    report(indicator);
    deliverEvent(std::move(event), m_mouseLocation);
}

void RecordInputView::addEvent(std::shared_ptr<const Event> event) {
    addEventAt(std::move(event), playheadSec());
}

void RecordInputView::addEventAt(std::shared_ptr<const Event> event, double eventTime) {
    if (isMouseEventType(event->type()))
        m_mouseLocation = normalizedLocationOf(event->locationInWindow());
    m_eventsInClip.push_back(RecordedEventEntry{std::move(event), m_mouseLocation, eventTime});
}

void RecordInputView::commitPendingRelease() {
    if (!m_pendingRelease) return;
    PendingRelease release = std::move(*m_pendingRelease);
    m_pendingRelease.reset();
    m_releaseTimer.stop();
    m_heldKeys.remove(release.key);
    if (!isRendering()) return;
    addEventAt(release.event, release.eventTime);
    report(Indicator::KeyUp);
    deliverEvent(std::move(release.event), m_mouseLocation);
}

void RecordInputView::report(Indicator indicator) {
    if (indicator != Indicator::None) emit activity(indicator);
}

void RecordInputView::sendSyntheticMouseMoved() {
    const QWidget* top = window();
    const QPoint inWindow = top->mapFromGlobal(QCursor::pos());
    const Point location{float(inWindow.x()), float(top->height() - inWindow.y())};
    capture(OBEvent::mouseEventWithType(NSMouseMoved, location, 0, 0, 0, 0, 0, 0),
            Indicator::MouseInstantaneous);
}

// Only the left button is captured live; right and other buttons, which no
// handler here takes, go to the composition unrecorded.
void RecordInputView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton) return CompositionDropView::mousePressEvent(event);
    capture(mouseEventFromQt(*event, *this), Indicator::MouseDown);
}

void RecordInputView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton) return CompositionDropView::mouseReleaseEvent(event);
    capture(mouseEventFromQt(*event, *this), Indicator::MouseUp);
}

void RecordInputView::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    const int type = mouseEventType(*event);
    if (type == NSMouseMoved)
        capture(mouseEventFromQt(*event, *this), Indicator::MouseInstantaneous);
    else if (type == NSLeftMouseDragged)
        capture(mouseEventFromQt(*event, *this), Indicator::None);
    else
        CompositionDropView::mouseMoveEvent(event);
}

void RecordInputView::wheelEvent(QWheelEvent* event) {
    event->accept();
    capture(scrollEventFromQt(*event, *this), Indicator::MouseInstantaneous);
}

void RecordInputView::keyPressEvent(QKeyEvent* event) {
    // Dropped keys are taken too: none of them may reach the window (Escape
    // would close it unsaved).
    event->accept();
    const int key = event->key();
    bool repeat = event->isAutoRepeat();
    if (m_pendingRelease && m_pendingRelease->key == key && event->timestamp() != 0 &&
        m_pendingRelease->timestamp == event->timestamp()) {
        // The release was the first half of an unflagged repeat pair.
        m_pendingRelease.reset();
        m_releaseTimer.stop();
        repeat = true;
    }
    if (capturing() && m_heldKeys.contains(key)) repeat = true;
    auto converted = keyEventFromQt(*event, true, *this, m_heldModifiers, repeat);
    const bool modifier = converted->type() == NSFlagsChanged;
    if (!modifier && capturing()) m_heldKeys.insert(key);
    capture(std::move(converted), modifier ? Indicator::KeyInstantaneous : Indicator::KeyDown);
}

void RecordInputView::keyReleaseEvent(QKeyEvent* event) {
    event->accept();
    // The first half of a flagged repeat pair: the key stays down.
    if (event->isAutoRepeat()) return;
    auto converted = keyEventFromQt(*event, false, *this, m_heldModifiers);
    if (converted->type() == NSFlagsChanged || !capturing()) {
        capture(std::move(converted), Indicator::KeyInstantaneous);
        return;
    }
    commitPendingRelease();
    m_pendingRelease =
        PendingRelease{event->key(), event->timestamp(), std::move(converted), playheadSec()};
    m_releaseTimer.start();
}
