// What each render consumes from a recording and what it delivers.
#include <gtest/gtest.h>

#include "cli/EventReplay.h"
#include "platform/events/OBEvent.h"

namespace lumivane {
namespace {

RecordedEventEntry mouse(int type, double time, Point location = {10, 20}) {
    RecordedEventEntry entry;
    entry.event = OBEvent::mouseEventWithType(type, location, 0, 0, 0, 0, 1, 1.0f);
    entry.mouseLocation = Point{location.x / 100, location.y / 100};
    entry.eventTime = time;
    return entry;
}

RecordedEventEntry key(double time, const char* characters) {
    RecordedEventEntry entry;
    entry.event =
        OBEvent::keyEventWithType(NSKeyDown, {}, 0, 0, 0, characters, characters, false, 0);
    entry.mouseLocation = Point{0.5f, 0.5f};
    entry.eventTime = time;
    return entry;
}

RecordedEventEntry scroll(double time, int32_t wheelY, int32_t wheelX, Point normalized) {
    RecordedEventEntry entry;
    entry.event = OBEvent::scrollWheelEvent(wheelY, wheelX, 0, {30, 40});
    entry.mouseLocation = normalized;
    entry.eventTime = time;
    return entry;
}

int deliveredType(const std::optional<RenderArguments>& arguments) {
    return arguments && arguments->event ? arguments->event->type() : 0;
}

TEST(EventReplay, MovesArePassedOverForTheDiscreteEventAfterThem) {
    EventArray events = {mouse(NSMouseMoved, 0.01), mouse(NSMouseMoved, 0.02),
                         mouse(NSLeftMouseDown, 0.03), mouse(NSLeftMouseUp, 0.04)};
    size_t cursor = 0;
    auto first = scanRecordedEvents(&events, cursor, 0.05);
    EXPECT_EQ(cursor, 3u);
    EXPECT_EQ(deliveredType(first), NSLeftMouseDown);
    // The chosen entry goes to the renderer as it stands, time included.
    EXPECT_EQ(first->eventTime, 0.03);
    EXPECT_EQ(first->event, events[2].event);

    auto second = scanRecordedEvents(&events, cursor, 0.05);
    EXPECT_EQ(cursor, 4u);
    EXPECT_EQ(deliveredType(second), NSLeftMouseUp);
    EXPECT_FALSE(scanRecordedEvents(&events, cursor, 0.05));
}

TEST(EventReplay, DragsCoalesceIntoTheLastOfTheRun) {
    EventArray events = {mouse(NSLeftMouseDragged, 0.01, {1, 1}),
                         mouse(NSLeftMouseDragged, 0.02, {2, 2}), mouse(NSLeftMouseUp, 0.03)};
    size_t cursor = 0;
    auto drag = scanRecordedEvents(&events, cursor, 0.05);
    EXPECT_EQ(cursor, 2u);
    EXPECT_EQ(drag->event, events[1].event);
    EXPECT_EQ(deliveredType(scanRecordedEvents(&events, cursor, 0.05)), NSLeftMouseUp);
}

TEST(EventReplay, DragsOfDifferentButtonsAreDeliveredApart) {
    EventArray events = {mouse(NSLeftMouseDragged, 0.01), mouse(NSRightMouseDragged, 0.02)};
    size_t cursor = 0;
    EXPECT_EQ(deliveredType(scanRecordedEvents(&events, cursor, 1)), NSLeftMouseDragged);
    EXPECT_EQ(deliveredType(scanRecordedEvents(&events, cursor, 1)), NSRightMouseDragged);
    EXPECT_EQ(cursor, 2u);
}

TEST(EventReplay, ScrollsFoldIntoOneSynthesisedEvent) {
    EventArray events = {scroll(0.01, 5, -2, {0.1f, 0.2f}), scroll(0.02, 3, 1, {0.3f, 0.4f}),
                         mouse(NSMouseMoved, 0.03)};
    size_t cursor = 0;
    auto arguments = scanRecordedEvents(&events, cursor, 0.05);
    EXPECT_EQ(cursor, 2u) << "the move waits for the next render";
    ASSERT_TRUE(arguments && arguments->event);
    EXPECT_EQ(arguments->event->type(), NSScrollWheel);
    EXPECT_NE(arguments->event, events[1].event);
    // Per axis: ten times (this entry's delta + the previous synthesised delta).
    EXPECT_FLOAT_EQ(arguments->event->deltaY(), 0.8f);
    EXPECT_FLOAT_EQ(arguments->event->deltaX(), -0.1f);
    EXPECT_EQ(arguments->mouseLocation, (Point{0.3f, 0.4f}));
    EXPECT_FALSE(arguments->eventTime) << "a synthesised scroll carries no time";
    EXPECT_EQ(deliveredType(scanRecordedEvents(&events, cursor, 0.05)), NSMouseMoved);
}

TEST(EventReplay, DueMeansAtOrBeforeTheRenderTime) {
    EventArray events = {mouse(NSLeftMouseDown, 0.5), mouse(NSLeftMouseUp, 0.6)};
    size_t cursor = 0;
    EXPECT_FALSE(scanRecordedEvents(&events, cursor, 0.25));
    EXPECT_EQ(cursor, 0u);
    EXPECT_EQ(deliveredType(scanRecordedEvents(&events, cursor, 0.5)), NSLeftMouseDown);
    EXPECT_FALSE(scanRecordedEvents(&events, cursor, 0.55));
}

TEST(EventReplay, OneDiscreteEventPerRender) {
    EventArray events = {key(0.1, "a"), key(0.1, "b")};
    size_t cursor = 0;
    auto first = scanRecordedEvents(&events, cursor, 0.2);
    auto second = scanRecordedEvents(&events, cursor, 0.2);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->event->characters(), "a");
    EXPECT_EQ(second->event->characters(), "b");
}

TEST(EventReplay, NoRecordingMeansNoArguments) {
    size_t cursor = 0;
    EXPECT_FALSE(scanRecordedEvents(nullptr, cursor, 1));
    EventArray empty;
    EXPECT_FALSE(scanRecordedEvents(&empty, cursor, 1));
    EXPECT_EQ(cursor, 0u);
}

TEST(EventReplay, EntryWithoutAnEventPassesLikeAMove) {
    RecordedEventEntry broken;
    broken.mouseLocation = Point{0.5f, 0.5f};
    broken.eventTime = 0.01;
    EventArray events = {broken, mouse(NSLeftMouseDragged, 0.02)};
    size_t cursor = 0;
    auto arguments = scanRecordedEvents(&events, cursor, 1);
    EXPECT_EQ(cursor, 2u);
    EXPECT_EQ(deliveredType(arguments), NSLeftMouseDragged);
}

}  // namespace
}  // namespace lumivane
