#include "platform/events/OBEvent.h"

#include <gtest/gtest.h>

namespace lumivane {
namespace {

TEST(OBEventFactories, MouseFactoryAcceptsOnlyMouseKinds) {
    for (int type : {1, 2, 3, 4, 5, 6, 7, 25, 26, 27}) {
        auto event = OBEvent::mouseEventWithType(type, {3, 4}, NSShiftKeyMask, 1.5, 9, 7, 2, 0.5f);
        ASSERT_TRUE(event) << type;
        EXPECT_EQ(event->type(), type);
        EXPECT_EQ(event->locationInWindow(), (Point{3, 4}));
        EXPECT_EQ(event->modifierFlags(), NSShiftKeyMask);
        EXPECT_EQ(event->eventNumber(), 7);
        EXPECT_EQ(event->clickCount(), 2);
        EXPECT_FLOAT_EQ(event->pressure(), 0.5f);
        EXPECT_EQ(event->windowNumber(), 9);
    }
    for (int type : {0, 8, 10, 12, 22, 24, 28, -1})
        EXPECT_THROW(OBEvent::mouseEventWithType(type, {}, 0, 0, 0, 0, 0, 0), EventError) << type;
}

TEST(OBEventFactories, MouseEventsReportTheirButton) {
    EXPECT_EQ(OBEvent::mouseEventWithType(NSLeftMouseDown, {}, 0, 0, 0, 0, 1, 1)->buttonNumber(),
              0);
    EXPECT_EQ(OBEvent::mouseEventWithType(NSRightMouseUp, {}, 0, 0, 0, 0, 1, 1)->buttonNumber(), 1);
    EXPECT_EQ(OBEvent::mouseEventWithType(NSOtherMouseDown, {}, 0, 0, 0, 0, 1, 1)->buttonNumber(),
              2);
}

TEST(OBEventFactories, KeyFactoryAcceptsOnlyKeyKinds) {
    auto event =
        OBEvent::keyEventWithType(NSKeyDown, {1, 2}, NSCommandKeyMask, 0, 0, "a", "A", true, 0);
    EXPECT_EQ(event->characters(), "a");
    EXPECT_EQ(event->charactersIgnoringModifiers(), "A");
    EXPECT_TRUE(event->isARepeat());
    auto flags = OBEvent::keyEventWithType(NSFlagsChanged, {}, 0, 0, 0, std::nullopt, std::nullopt,
                                           false, 56);
    EXPECT_FALSE(flags->characters().has_value());
    EXPECT_EQ(flags->keyCode(), 56);
    for (int type : {0, 1, 9, 13, 22})
        EXPECT_THROW(OBEvent::keyEventWithType(type, {}, 0, 0, 0, "", "", false, 0), EventError);
}

TEST(OBEventFactories, OtherFactoryRefusesCodeZeroAndMouseOrKeyCodes) {
    EXPECT_THROW(OBEvent::otherEventWithType(0, {}, 0, 0, 0, 0, 0, 0), EventError);
    EXPECT_THROW(OBEvent::otherEventWithType(NSLeftMouseDown, {}, 0, 0, 0, 0, 0, 0), EventError);
    EXPECT_THROW(OBEvent::otherEventWithType(NSKeyUp, {}, 0, 0, 0, 0, 0, 0), EventError);
    auto event = OBEvent::otherEventWithType(NSApplicationDefined, {5, 6}, 0, 0, 0, 1, 2, 3);
    EXPECT_EQ(event->type(), NSApplicationDefined);
    EXPECT_EQ(event->locationInWindow(), (Point{5, 6}));
}

TEST(OBEventScroll, WheelAmountsReadBackAsTenths) {
    auto event = OBEvent::scrollWheelEvent(-10, 2, 0, {30, 40});
    EXPECT_EQ(event->type(), NSScrollWheel);
    EXPECT_FLOAT_EQ(event->deltaY(), -1.0f);
    EXPECT_FLOAT_EQ(event->deltaX(), 0.2f);
    EXPECT_EQ(event->deltaZ(), 0.0f);
    EXPECT_EQ(event->modifierFlags(), 0u);
}

TEST(OBEventScroll, LocationIsUnflippedAgainstTheScreenHeight) {
    EXPECT_EQ(OBEvent::scrollWheelEvent(0, 0, 0, {30, 40})->locationInWindow(), (Point{30, -40}));
    EXPECT_EQ(OBEvent::scrollWheelEvent(0, 0, 0, {30, 40}, 900)->locationInWindow(),
              (Point{30, 860}));
    EXPECT_EQ(unflippedLocation({1, 2}, 10), (Point{1, 8}));
}

TEST(OBEventWindow, SetWindowAttachesWindowAndNumber) {
    auto event = OBEvent::mouseEventWithType(NSLeftMouseDown, {}, 0, 0, 0, 0, 1, 1);
    EXPECT_EQ(event->window(), nullptr);
    int window = 0;
    event->setWindow(&window, 42);
    EXPECT_EQ(event->window(), &window);
    EXPECT_EQ(event->windowNumber(), 42);
}

}  // namespace
}  // namespace lumivane
