// The recording's rules over plain entry arrays, and the key table that
// capture and the engine share.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QWidget>

#include "app/recording/RecordingTimeline.h"
#include "app/view/InputEventConversion.h"
#include "platform/engine/UserInputState.h"
#include "platform/events/KeyCodes.h"
#include "platform/events/OBEvent.h"
#include "shared/EventPropertyList.h"

using namespace lumivane;

namespace {

RecordedEventEntry entryAt(double time, int type = NSMouseMoved) {
    return {OBEvent::mouseEventWithType(type, {}, 0, 0, 0, 0, 0, 0), Point{}, time};
}

std::vector<double> timesOf(const RecordedEntries& entries) {
    std::vector<double> times;
    for (const auto& entry : entries) times.push_back(*entry.eventTime);
    return times;
}

}  // namespace

TEST(RecordingTimeline, TimeDisplay) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0.0, "00:00.00"},    {75.456, "01:15.46"}, {0.004, "00:00.00"}, {3725.5, "62:05.50"},
        {3.0, "00:03.00"},    {59.5, "00:59.50"},   {60.0, "01:00.00"},  {0.005, "00:00.01"},
        {599.99, "09:59.99"}, {-1.0, "00:00.00"},
    };
    for (const auto& c : cases) EXPECT_EQ(timeDisplayText(c.seconds), c.text) << c.seconds;
}

TEST(RecordingTimeline, NormalizedMouseLocation) {
    // The top-right corner of a 640 x 480 view: one point comes off y.
    EXPECT_EQ(normalizedMouseLocation(640, 480, 640, 480), (Point{1.0f, 479.0f / 480.0f}));
    EXPECT_EQ(normalizedMouseLocation(0, 1, 640, 480), (Point{0.0f, 0.0f}));
    EXPECT_EQ(normalizedMouseLocation(320, 241, 640, 480), (Point{0.5f, 0.5f}));
    // Drags beyond the view leave 0-1.
    EXPECT_EQ(normalizedMouseLocation(-64, 961, 640, 480), (Point{-0.1f, 2.0f}));
    EXPECT_EQ(normalizedMouseLocation(10, 10, 0, 0), (Point{}));
}

TEST(RecordingTimeline, MergeReplacesTheClipsSpanOrAdds) {
    const RecordedEntries recording = {entryAt(1.0), entryAt(2.0), entryAt(3.5), entryAt(5.0),
                                       entryAt(6.0)};
    const RecordedEntries clip = {entryAt(2.0, NSMouseMoved), entryAt(2.5, NSLeftMouseDown),
                                  entryAt(4.0, NSLeftMouseUp)};
    const struct {
        bool overwrite;
        std::vector<double> times;
        uint32_t next;
    } cases[] = {
        // Replace from 2.0 to 5.0: 1.0 and 6.0 stay, the clip joins.
        {true, {1.0, 2.0, 2.5, 4.0, 6.0}, 4},
        // Add: everything stays, merged by time.
        {false, {1.0, 2.0, 2.0, 2.5, 3.5, 4.0, 5.0, 6.0}, 7},
    };
    for (const auto& c : cases) {
        RecordedEntries events = recording;
        const uint32_t next = mergeClip(events, clip, 2.0, 5.0, c.overwrite);
        EXPECT_EQ(timesOf(events), c.times) << c.overwrite;
        EXPECT_EQ(next, c.next) << c.overwrite;
        EXPECT_EQ(*events[next].eventTime, 6.0);
    }
    // Among equal times the older entry comes first.
    RecordedEntries events = recording;
    mergeClip(events, clip, 2.0, 5.0, false);
    EXPECT_EQ(events[1].event->type(), NSMouseMoved);
    EXPECT_EQ(events[1].event, recording[1].event);
    EXPECT_NE(events[2].event, recording[1].event);
}

TEST(RecordingTimeline, MergeEdges) {
    // A clip at the playhead in replace mode removes exactly the entries at
    // that time: the first frame's mouse move replaces the old one at 0.
    RecordedEntries events = {entryAt(0.0), entryAt(0.0), entryAt(0.5)};
    EXPECT_EQ(mergeClip(events, {entryAt(0.0, NSLeftMouseDown)}, 0.0, 0.0, true), 1u);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].event->type(), NSLeftMouseDown);
    // An empty recording takes the clip as it is; nothing after now gives
    // the count.
    RecordedEntries empty;
    EXPECT_EQ(mergeClip(empty, {entryAt(0.2), entryAt(0.1)}, 0.0, 0.3, true), 2u);
    EXPECT_EQ(timesOf(empty), (std::vector<double>{0.1, 0.2}));
    // A clip past the end of the recording removes nothing before it.
    RecordedEntries tail = {entryAt(1.0), entryAt(2.0)};
    EXPECT_EQ(mergeClip(tail, {entryAt(3.0)}, 3.0, 4.0, true), 3u);
    EXPECT_EQ(timesOf(tail), (std::vector<double>{1.0, 2.0, 3.0}));
}

TEST(RecordingTimeline, PlaybackDeliversWhatIsDueAndKeepsItsPlace) {
    const RecordedEntries events = {entryAt(0.0), entryAt(0.5), entryAt(1.0), entryAt(1.001),
                                    entryAt(2.0)};
    std::vector<double> delivered;
    const auto deliver = [&](const RecordedEventEntry& e) { delivered.push_back(*e.eventTime); };
    const struct {
        uint32_t from;
        double now;
        uint32_t to;
        std::vector<double> delivered;
    } steps[] = {
        // From a fresh start everything up to the playhead comes at once.
        {0, 0.9, 2, {0.0, 0.5}},
        // An entry exactly at the playhead is due; 1 ms later waits.
        {2, 1.0, 3, {1.0}},
        {3, 1.0, 3, {}},
        {3, 1.5, 4, {1.001}},
        {4, 5.0, 5, {2.0}},
        {5, 9.0, 5, {}},
    };
    for (const auto& step : steps) {
        delivered.clear();
        EXPECT_EQ(playbackEntriesToTime(events, step.from, step.now, deliver), step.to) << step.now;
        EXPECT_EQ(delivered, step.delivered) << step.now;
    }
}

// Every key the table knows, pressed in the toolkit, reaches the engine's
// KEYBOARD under the table's code, directly and after a trip through a
// recording's property list.
TEST(RecordingKeyCodes, ToolkitKeysReplayAsTheSameKeys) {
    QWidget view;
    view.resize(100, 100);
    int checked = 0;
    for (const KeyCodeEntry& entry : keyCodeTable()) {
        if (!entry.toolkitKey) continue;
        const QString text =
            entry.character ? QString(QChar(entry.character)).toLower() : QString();
        for (bool down : {true, false}) {
            QKeyEvent key(down ? QEvent::KeyPress : QEvent::KeyRelease, entry.toolkitKey,
                          Qt::NoModifier, text);
            uint32_t held = down ? 0 : entry.modifierMask;
            const auto event = keyEventFromQt(key, down, view, held);
            EXPECT_EQ(event->keyCode(), entry.virtualCode) << entry.toolkitKey;
            EXPECT_EQ(event->type(),
                      entry.modifierMask ? NSFlagsChanged : (down ? NSKeyDown : NSKeyUp));
            const auto rebuilt = eventFromPropertyList(propertyListRepresentation(*event), {});
            ASSERT_NE(rebuilt, nullptr);
            if (entry.modifierMask) {
                // A modifier key says by its flag whether it went down.
                EXPECT_EQ((rebuilt->modifierFlags() & entry.modifierMask) != 0, down);
                continue;
            }
            EXPECT_EQ(UserInputState::javaScriptKeyCode(*event), entry.javaScriptCode)
                << entry.toolkitKey;
            EXPECT_EQ(UserInputState::javaScriptKeyCode(*rebuilt), entry.javaScriptCode)
                << entry.toolkitKey;
        }
        ++checked;
    }
    EXPECT_GT(checked, 90);

    // A modifier pressed and released lights and clears its KEYBOARD cell.
    UserInputState state;
    uint32_t held = 0;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Shift, Qt::NoModifier);
    const RecordedEventEntry down{keyEventFromQt(press, true, view, held), Point{}, 0.0};
    state.apply(&down);
    EXPECT_EQ(state.keyboard()[16], 255);
    const RecordedEventEntry up{keyEventFromQt(release, false, view, held), Point{}, 0.0};
    state.apply(&up);
    EXPECT_EQ(state.keyboard()[16], 0);
}
