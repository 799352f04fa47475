#include "app/recording/RecordInputView.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWindow>

#include "app/InputEventConversion.h"
#include "app/recording/RecordInputWindow.h"
#include "platform/events/OBEvent.h"

using namespace lumivane;

namespace {

constexpr double kMaxFrameRate = 30.0;
constexpr int kPlaybackIntervalMs = 1000 / 30;
// Every event kind the recording view hands to its composition.
constexpr unsigned kAllEvents = ~0u;

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
}

RecordInputView::~RecordInputView() = default;

void RecordInputView::setRecordInputWindow(RecordInputWindow* window) {
    m_recordInputWindow = window;
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
    return m_recordInputWindow ? m_recordInputWindow->playheadSec() : 0.0;
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
    if (!capturing()) return;
    addEvent(event);
    report(indicator);
    deliverEvent(std::move(event), m_mouseLocation);
}

void RecordInputView::addEvent(std::shared_ptr<const Event> event) {
    if (isMouseEventType(event->type()))
        m_mouseLocation = normalizedLocationOf(event->locationInWindow());
    m_eventsInClip.push_back(RecordedEventEntry{std::move(event), m_mouseLocation, playheadSec()});
}

void RecordInputView::report(Indicator indicator) {
    RecordInputWindow* window = m_recordInputWindow;
    if (!window) return;
    switch (indicator) {
        case Indicator::None:
            break;
        case Indicator::KeyDown:
            window->keyDownEvent();
            break;
        case Indicator::KeyUp:
            window->keyUpEvent();
            break;
        case Indicator::KeyInstantaneous:
            window->keyInstantaneousEvent();
            break;
        case Indicator::MouseDown:
            window->mouseDownEvent();
            break;
        case Indicator::MouseUp:
            window->mouseUpEvent();
            break;
        case Indicator::MouseInstantaneous:
            window->mouseInstantaneousEvent();
            break;
    }
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
    auto converted = keyEventFromQt(*event, true, *this, m_heldModifiers);
    const Indicator indicator =
        converted->type() == NSFlagsChanged ? Indicator::KeyInstantaneous : Indicator::KeyDown;
    capture(std::move(converted), indicator);
}

void RecordInputView::keyReleaseEvent(QKeyEvent* event) {
    event->accept();
    auto converted = keyEventFromQt(*event, false, *this, m_heldModifiers);
    const Indicator indicator =
        converted->type() == NSFlagsChanged ? Indicator::KeyInstantaneous : Indicator::KeyUp;
    capture(std::move(converted), indicator);
}
