#include "shared/EventPropertyList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/events/OBEvent.h"

namespace lumivane {
namespace {

Event::Fields fieldsOf(int type) {
    Event::Fields fields;
    fields.type = type;
    return fields;
}

std::vector<std::string> keysOf(const PlistDict& plist) {
    std::vector<std::string> keys;
    for (const auto& entry : plist) keys.push_back(entry.first);
    return keys;
}

// Runs a rebuild and returns what it wrote to the system log.
std::shared_ptr<Event> rebuildCapturingLog(const PlistDict& plist, Point location,
                                           std::string& log) {
    ::testing::internal::CaptureStderr();
    auto event = eventFromPropertyList(plist, location);
    log = ::testing::internal::GetCapturedStderr();
    return event;
}

// --- event to property list -----------------------------------------------------

TEST(EventToPropertyList, LeftMouseDownGivesExactlyItsKeys) {
    auto fields = fieldsOf(NSLeftMouseDown);
    fields.locationInWindow = {120, 45};
    fields.clickCount = 1;
    fields.eventNumber = 7;
    fields.pressure = 1.0f;
    PlistDict expected{{"type", "NSLeftMouseDown"},
                       {"clickCount", 1},
                       {"eventNumber", 7},
                       {"pressure", 1.0},
                       {"locationInWindow", "{120, 45}"}};
    EXPECT_EQ(propertyListRepresentation(Event(fields)), expected);
}

TEST(EventToPropertyList, MouseMoveCarriesLocationAndNonZeroDeltasOnly) {
    auto fields = fieldsOf(NSMouseMoved);
    fields.locationInWindow = {1.5f, 2};
    fields.clickCount = 3;
    fields.eventNumber = 9;
    fields.pressure = 0.5f;
    fields.deltaX = std::nanf("");
    fields.deltaY = 2.5f;
    fields.deltaZ = -0.0f;
    PlistDict expected{{"type", "NSMouseMoved"}, {"locationInWindow", "{1.5, 2}"}, {"deltaY", 2.5}};
    EXPECT_EQ(propertyListRepresentation(Event(fields)), expected);
}

TEST(EventToPropertyList, OtherMouseButtonNumberIsAlwaysWritten) {
    auto fields = fieldsOf(NSOtherMouseDown);
    fields.buttonNumber = 0;
    auto plist = propertyListRepresentation(Event(fields));
    EXPECT_EQ(keysOf(plist),
              (std::vector<std::string>{"type", "buttonNumber", "locationInWindow"}));
    EXPECT_EQ(plist.find("buttonNumber")->intValue(), 0);
}

TEST(EventToPropertyList, KeyEventsAlwaysCarryTheirKeyFields) {
    auto fields = fieldsOf(NSKeyDown);
    fields.characters = "";
    fields.keyCode = 65535;
    fields.locationInWindow = {5, 5};
    PlistDict expected{{"type", "NSKeyDown"},
                       {"characters", ""},
                       {"charactersIgnoringModifiers", ""},
                       {"isARepeat", 0},
                       {"keyCode", 65535}};
    // charactersIgnoringModifiers is absent: it is written as empty text too.
    EXPECT_EQ(propertyListRepresentation(Event(fields)), expected);
    fields.type = NSKeyUp;
    fields.isARepeat = true;
    EXPECT_EQ(propertyListRepresentation(Event(fields)).find("isARepeat")->intValue(), 1);
}

TEST(EventToPropertyList, FlagsChangedWithoutModifiersIsTypeAlone) {
    auto fields = fieldsOf(NSFlagsChanged);
    fields.characters = "x";
    fields.keyCode = 56;
    EXPECT_EQ(propertyListRepresentation(Event(fields)), (PlistDict{{"type", "NSFlagsChanged"}}));
}

TEST(EventToPropertyList, ModifierFlagsAreSigned32Bit) {
    auto fields = fieldsOf(NSFlagsChanged);
    fields.modifierFlags = 0x80000000u | NSShiftKeyMask;
    auto plist = propertyListRepresentation(Event(fields));
    EXPECT_EQ(plist.find("modifierFlags")->longLongValue(),
              static_cast<int32_t>(0x80000000u | NSShiftKeyMask));
    auto event = eventFromPropertyList(plist, {});
    EXPECT_EQ(event->modifierFlags(), 0x80000000u | NSShiftKeyMask);
}

TEST(EventToPropertyList, ScrollWheelNeverCarriesALocation) {
    auto fields = fieldsOf(NSScrollWheel);
    fields.locationInWindow = {7, 8};
    fields.deltaX = 0.25f;
    fields.deltaY = -1;
    EXPECT_EQ(propertyListRepresentation(Event(fields)),
              (PlistDict{{"type", "NSScrollWheel"}, {"deltaX", 0.25}, {"deltaY", -1.0}}));
}

TEST(EventToPropertyList, UnlistedKindsHaveAnEmptyTypeAndDoNotRebuild) {
    auto fields = fieldsOf(NSMouseEntered);
    fields.modifierFlags = NSShiftKeyMask;
    auto plist = propertyListRepresentation(Event(fields));
    EXPECT_EQ(plist, (PlistDict{{"type", ""}, {"modifierFlags", int(NSShiftKeyMask)}}));
    std::string log;
    EXPECT_EQ(rebuildCapturingLog(plist, {}, log), nullptr);
    EXPECT_NE(log.find("Error creating event ["), std::string::npos);
}

// --- property list to event -----------------------------------------------------

TEST(PropertyListToEvent, ScrollWheelTakesWheelTenthsAndDefaultLocation) {
    PlistDict plist{{"type", "NSScrollWheel"}, {"deltaX", 0.25}, {"deltaY", -1.0}};
    auto event = eventFromPropertyList(plist, {30, 40});
    ASSERT_TRUE(event);
    EXPECT_EQ(event->type(), NSScrollWheel);
    EXPECT_FLOAT_EQ(event->deltaY(), -1.0f);  // wheel 1 = -10
    EXPECT_FLOAT_EQ(event->deltaX(), 0.2f);   // wheel 2 = trunc(2.5) = 2
    EXPECT_EQ(event->deltaZ(), 0.0f);
    EXPECT_EQ(event->locationInWindow(), (Point{30, -40}));
}

TEST(PropertyListToEvent, ScrollAmountsTruncateTowardZeroAndSaturate) {
    PlistDict plist{{"type", "NSScrollWheel"},
                    {"deltaX", -0.19},
                    {"deltaY", 1e30},
                    {"deltaZ", std::numeric_limits<double>::quiet_NaN()}};
    auto event = eventFromPropertyList(plist, {});
    ASSERT_TRUE(event);
    EXPECT_FLOAT_EQ(event->deltaX(), -0.1f);
    EXPECT_FLOAT_EQ(event->deltaY(),
                    static_cast<float>(std::numeric_limits<int32_t>::max() / 10.0));
    EXPECT_EQ(event->deltaZ(), 0.0f);
}

TEST(PropertyListToEvent, FlagsChangedRebuildsAsAKeyKindEvent) {
    auto event = eventFromPropertyList(PlistDict{{"type", "NSFlagsChanged"}}, {3, 4});
    ASSERT_TRUE(event);
    EXPECT_EQ(event->type(), NSFlagsChanged);
    EXPECT_EQ(event->modifierFlags(), 0u);
    EXPECT_FALSE(event->characters());
    EXPECT_EQ(event->keyCode(), 0);
    EXPECT_EQ(event->locationInWindow(), (Point{3, 4}));
}

TEST(PropertyListToEvent, KeyEventsTakeTheDefaultLocation) {
    PlistDict plist{{"type", "NSKeyUp"}, {"characters", "q"}, {"keyCode", 12}};
    EXPECT_EQ(eventFromPropertyList(plist, {120, 80})->locationInWindow(), (Point{120, 80}));
}

TEST(PropertyListToEvent, DragDeltasAreNotRestored) {
    PlistDict plist{
        {"type", "NSLeftMouseDragged"}, {"deltaX", 4.0}, {"locationInWindow", "{1, 2}"}};
    auto event = eventFromPropertyList(plist, {});
    EXPECT_EQ(event->deltaX(), 0.0f);
    EXPECT_EQ(event->locationInWindow(), (Point{1, 2}));
}

TEST(PropertyListToEvent, UnknownOrMissingTypeFailsWithOneLogLine) {
    for (const char* name : {"NSLeftMouseDownX", "nsleftmousedown", "NSLEFTMOUSEDOWN", ""}) {
        std::string log;
        PlistDict plist{{"type", name}, {"clickCount", 1}};
        EXPECT_EQ(rebuildCapturingLog(plist, {}, log), nullptr) << name;
        EXPECT_NE(log.find("Error creating event ["), std::string::npos) << log;
        EXPECT_NE(log.find("] from property list {"), std::string::npos) << log;
        EXPECT_NE(log.find("\"clickCount\" = 1"), std::string::npos) << log;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    }
    std::string log;
    EXPECT_EQ(rebuildCapturingLog(PlistDict{}, {}, log), nullptr);
    EXPECT_NE(log.find("Error creating event ["), std::string::npos);
    EXPECT_EQ(rebuildCapturingLog(PlistDict{{"type", 1}}, {}, log), nullptr);
}

TEST(PropertyListToEvent, LogLineStaysOneLineWhateverTheText) {
    std::string log;
    PlistDict plist{{"type", "bad\ntype"}, {"characters", "\r\x01\""}};
    EXPECT_EQ(rebuildCapturingLog(plist, {}, log), nullptr);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

TEST(PropertyListToEvent, LocationTextRules) {
    auto at = [](PlistValue location) {
        PlistDict plist{{"type", "NSLeftMouseDown"}, {"locationInWindow", std::move(location)}};
        return eventFromPropertyList(plist, {9, 9})->locationInWindow();
    };
    EXPECT_EQ(at(""), (Point{9, 9}));
    EXPECT_EQ(at("not a point"), (Point{0, 0}));
    EXPECT_EQ(at("{-3.5, 7}"), (Point{-3.5f, 7}));
    EXPECT_EQ(at(12), (Point{9, 9}));  // only text is a location
    EXPECT_EQ(at(PlistDict{}), (Point{9, 9}));
}

TEST(PropertyListToEvent, NumericStringsReadAsNumbers) {
    PlistDict mouse{{"type", "NSRightMouseDown"},
                    {"clickCount", "3"},
                    {"eventNumber", " 12"},
                    {"pressure", "0.5"},
                    {"modifierFlags", "131072"}};
    auto event = eventFromPropertyList(mouse, {});
    EXPECT_EQ(event->clickCount(), 3);
    EXPECT_EQ(event->eventNumber(), 12);
    EXPECT_FLOAT_EQ(event->pressure(), 0.5f);
    EXPECT_EQ(event->modifierFlags(), NSShiftKeyMask);

    PlistDict key{{"type", "NSKeyDown"}, {"isARepeat", "YES"}, {"keyCode", "70000"}};
    auto keyEvent = eventFromPropertyList(key, {});
    EXPECT_TRUE(keyEvent->isARepeat());
    EXPECT_EQ(keyEvent->keyCode(), 70000 & 0xFFFF);

    PlistDict scroll{{"type", "NSScrollWheel"}, {"deltaY", "1.5"}};
    EXPECT_FLOAT_EQ(eventFromPropertyList(scroll, {})->deltaY(), 1.5f);
}

TEST(PropertyListToEvent, RebuiltEventsAreOBEvents) {
    auto event = eventFromPropertyList(PlistDict{{"type", "NSMouseMoved"}}, {});
    auto rebuilt = std::dynamic_pointer_cast<OBEvent>(event);
    ASSERT_TRUE(rebuilt);
    int window = 0;
    rebuilt->setWindow(&window, 3);
    EXPECT_EQ(rebuilt->windowNumber(), 3);
}

// --- round trips ------------------------------------------------------------------

struct RoundTripCase {
    int type;
    bool keepsMouseFields;
    bool keepsKeyFields;
};

class EventRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(EventRoundTrip, ReproducesWhatTheListKeeps) {
    const RoundTripCase c = GetParam();
    Event::Fields fields = fieldsOf(c.type);
    fields.modifierFlags = NSAlternateKeyMask | NSCommandKeyMask;
    fields.locationInWindow = {12.25f, 300.5f};
    fields.clickCount = 2;
    fields.eventNumber = 31;
    fields.pressure = 0.75f;
    fields.deltaX = 0.31f;
    fields.deltaY = -1.27f;
    fields.deltaZ = 2;
    fields.characters = "é<&>";
    fields.charactersIgnoringModifiers = "E";
    fields.isARepeat = true;
    fields.keyCode = 14;
    const Point defaultLocation{-1, -2};
    auto event = eventFromPropertyList(propertyListRepresentation(Event(fields)), defaultLocation);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->type(), c.type);
    EXPECT_EQ(event->modifierFlags(), fields.modifierFlags);

    bool hasLocation = isMouseEventType(c.type);
    EXPECT_EQ(event->locationInWindow(), hasLocation ? fields.locationInWindow
                                         : c.type == NSScrollWheel
                                             ? unflippedLocation(defaultLocation)
                                             : defaultLocation);
    EXPECT_EQ(event->clickCount(), c.keepsMouseFields ? 2 : 0);
    EXPECT_EQ(event->eventNumber(), c.keepsMouseFields ? 31 : 0);
    EXPECT_EQ(event->pressure(), c.keepsMouseFields ? 0.75f : 0.0f);
    EXPECT_EQ(event->characters(),
              c.keepsKeyFields ? std::optional<std::string>("é<&>") : std::nullopt);
    EXPECT_EQ(event->isARepeat(), c.keepsKeyFields);
    EXPECT_EQ(event->keyCode(), c.keepsKeyFields ? 14 : 0);
    if (c.type == NSScrollWheel) {
        EXPECT_FLOAT_EQ(event->deltaX(), 0.3f);   // trunc(3.1) / 10
        EXPECT_FLOAT_EQ(event->deltaY(), -1.2f);  // trunc(-12.7) / 10
        EXPECT_FLOAT_EQ(event->deltaZ(), 2.0f);
    } else {
        EXPECT_EQ(event->deltaX(), 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, EventRoundTrip,
    ::testing::Values(
        RoundTripCase{NSLeftMouseDown, true, false}, RoundTripCase{NSLeftMouseUp, true, false},
        RoundTripCase{NSRightMouseDown, true, false}, RoundTripCase{NSRightMouseUp, true, false},
        RoundTripCase{NSMouseMoved, false, false}, RoundTripCase{NSLeftMouseDragged, true, false},
        RoundTripCase{NSRightMouseDragged, true, false}, RoundTripCase{NSKeyDown, false, true},
        RoundTripCase{NSKeyUp, false, true}, RoundTripCase{NSScrollWheel, false, false},
        RoundTripCase{NSOtherMouseDown, true, false}, RoundTripCase{NSOtherMouseUp, true, false},
        RoundTripCase{NSOtherMouseDragged, true, false}));

// Recordings written elsewhere name their events by these texts and codes;
// the table is written out here so a slip in ours shows.
TEST(EventTypeNames, MatchTheNamesAndCodesRecordingsCarry) {
    const std::pair<const char*, int> expected[] = {
        {"NSLeftMouseDown", 1},     {"NSLeftMouseUp", 2},       {"NSRightMouseDown", 3},
        {"NSRightMouseUp", 4},      {"NSMouseMoved", 5},        {"NSLeftMouseDragged", 6},
        {"NSRightMouseDragged", 7}, {"NSKeyDown", 10},          {"NSKeyUp", 11},
        {"NSFlagsChanged", 12},     {"NSScrollWheel", 22},      {"NSOtherMouseDown", 25},
        {"NSOtherMouseUp", 26},     {"NSOtherMouseDragged", 27}};
    for (const auto& [name, code] : expected) {
        EXPECT_EQ(eventTypeFromName(name), code) << name;
        EXPECT_EQ(eventTypeName(code), name) << code;
    }
    for (int unlisted : {0, 8, 9, 13, 21, 23, 24, 28}) EXPECT_EQ(eventTypeName(unlisted), "");
    for (const char* other : {"NSMouseEntered", "nsleftmousedown", "NSKeyDown ", ""})
        EXPECT_EQ(eventTypeFromName(other), 0) << other;
}

}  // namespace
}  // namespace lumivane
