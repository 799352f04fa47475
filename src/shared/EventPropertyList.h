// One input event as a dictionary of property-list values, the form in which
// recordings keep events, and the way back to an event.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "base/PlistValue.h"
#include "platform/events/Event.h"
#include "platform/events/Point.h"

namespace lumivane {

// The texts of "type", one per event kind that a recording keeps.
namespace EventTypeName {
inline constexpr std::string_view NSLeftMouseDown = "NSLeftMouseDown";
inline constexpr std::string_view NSLeftMouseUp = "NSLeftMouseUp";
inline constexpr std::string_view NSRightMouseDown = "NSRightMouseDown";
inline constexpr std::string_view NSRightMouseUp = "NSRightMouseUp";
inline constexpr std::string_view NSMouseMoved = "NSMouseMoved";
inline constexpr std::string_view NSLeftMouseDragged = "NSLeftMouseDragged";
inline constexpr std::string_view NSRightMouseDragged = "NSRightMouseDragged";
inline constexpr std::string_view NSKeyDown = "NSKeyDown";
inline constexpr std::string_view NSKeyUp = "NSKeyUp";
inline constexpr std::string_view NSFlagsChanged = "NSFlagsChanged";
inline constexpr std::string_view NSScrollWheel = "NSScrollWheel";
inline constexpr std::string_view NSOtherMouseDown = "NSOtherMouseDown";
inline constexpr std::string_view NSOtherMouseUp = "NSOtherMouseUp";
inline constexpr std::string_view NSOtherMouseDragged = "NSOtherMouseDragged";
}  // namespace EventTypeName

// Keys of an event property list.
namespace EventPlistKey {
inline constexpr const char* type = "type";
inline constexpr const char* modifierFlags = "modifierFlags";
inline constexpr const char* clickCount = "clickCount";
inline constexpr const char* buttonNumber = "buttonNumber";
inline constexpr const char* eventNumber = "eventNumber";
inline constexpr const char* pressure = "pressure";
inline constexpr const char* locationInWindow = "locationInWindow";
inline constexpr const char* deltaX = "deltaX";
inline constexpr const char* deltaY = "deltaY";
inline constexpr const char* deltaZ = "deltaZ";
inline constexpr const char* characters = "characters";
inline constexpr const char* charactersIgnoringModifiers = "charactersIgnoringModifiers";
inline constexpr const char* isARepeat = "isARepeat";
inline constexpr const char* keyCode = "keyCode";
}  // namespace EventPlistKey

struct EventKind {
    int code;
    std::string_view name;
};

// The kinds in the order in which names are matched.
inline constexpr std::array<EventKind, 14> kEventKinds{{
    {NSLeftMouseDown, EventTypeName::NSLeftMouseDown},
    {NSLeftMouseUp, EventTypeName::NSLeftMouseUp},
    {NSRightMouseDown, EventTypeName::NSRightMouseDown},
    {NSRightMouseUp, EventTypeName::NSRightMouseUp},
    {NSMouseMoved, EventTypeName::NSMouseMoved},
    {NSLeftMouseDragged, EventTypeName::NSLeftMouseDragged},
    {NSRightMouseDragged, EventTypeName::NSRightMouseDragged},
    {NSKeyDown, EventTypeName::NSKeyDown},
    {NSKeyUp, EventTypeName::NSKeyUp},
    {NSFlagsChanged, EventTypeName::NSFlagsChanged},
    {NSScrollWheel, EventTypeName::NSScrollWheel},
    {NSOtherMouseDown, EventTypeName::NSOtherMouseDown},
    {NSOtherMouseUp, EventTypeName::NSOtherMouseUp},
    {NSOtherMouseDragged, EventTypeName::NSOtherMouseDragged},
}};

// The name of a type code; empty for a code no recording keeps.
std::string_view eventTypeName(int code);
// The code of a name, compared exactly; 0 for any other text.
int eventTypeFromName(std::string_view name);

// The event property list of an event, keys in a fixed insertion order.
PlistDict propertyListRepresentation(const Event& event);

// Rebuilds an event (an OBEvent) from its property list. Events whose list
// holds no location take defaultLocationInWindow. Returns nullptr, after one
// log line, when the event cannot be built.
std::shared_ptr<Event> eventFromPropertyList(const PlistDict& plist, Point defaultLocationInWindow);

// One-line readable text of a property-list value, for log lines.
std::string describePropertyList(const PlistValue& value);

}  // namespace lumivane
