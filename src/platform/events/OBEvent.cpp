#include "platform/events/OBEvent.h"

#include <cmath>
#include <limits>
#include <string>

namespace lumivane {
namespace {

// Mouse events report the button that produced them, as the desktop does:
// 0 for the left button, 1 for the right, 2 for any other.
int buttonNumberForType(int type) {
    switch (type) {
        case NSRightMouseDown:
        case NSRightMouseUp:
        case NSRightMouseDragged:
            return 1;
        case NSOtherMouseDown:
        case NSOtherMouseUp:
        case NSOtherMouseDragged:
            return 2;
        default:
            return 0;
    }
}

std::string describeType(const char* factory, int type) {
    return std::string(factory) + ": invalid event type " + std::to_string(type);
}

// What every event made from a type and a place carries.
Event::Fields commonFields(int type, Point location, uint32_t modifierFlags, double timestamp,
                           int windowNumber) {
    Event::Fields fields;
    fields.type = type;
    fields.locationInWindow = location;
    fields.modifierFlags = modifierFlags;
    fields.timestamp = timestamp;
    fields.windowNumber = windowNumber;
    return fields;
}

}  // namespace

bool isMouseEventType(int type) {
    return (type >= NSLeftMouseDown && type <= NSRightMouseDragged) ||
           (type >= NSOtherMouseDown && type <= NSOtherMouseDragged);
}

bool isKeyEventType(int type) {
    return type >= NSKeyDown && type <= NSFlagsChanged;
}

Point unflippedLocation(Point location, float screenHeight) {
    return {location.x, screenHeight - location.y};
}

void OBEvent::setWindow(const void* window, int windowNumber) {
    m_window = window;
    m_fields.windowNumber = windowNumber;
}

std::shared_ptr<OBEvent> OBEvent::mouseEventWithType(int type, Point location,
                                                     uint32_t modifierFlags, double timestamp,
                                                     int windowNumber, int eventNumber,
                                                     int clickCount, float pressure) {
    if (!isMouseEventType(type)) throw EventError(describeType("mouseEventWithType", type));
    Fields fields = commonFields(type, location, modifierFlags, timestamp, windowNumber);
    fields.eventNumber = eventNumber;
    fields.clickCount = clickCount;
    fields.pressure = pressure;
    fields.buttonNumber = buttonNumberForType(type);
    return std::make_shared<OBEvent>(std::move(fields));
}

std::shared_ptr<OBEvent> OBEvent::keyEventWithType(
    int type, Point location, uint32_t modifierFlags, double timestamp, int windowNumber,
    std::optional<std::string> characters, std::optional<std::string> charactersIgnoringModifiers,
    bool isARepeat, uint16_t keyCode) {
    if (!isKeyEventType(type)) throw EventError(describeType("keyEventWithType", type));
    Fields fields = commonFields(type, location, modifierFlags, timestamp, windowNumber);
    fields.characters = std::move(characters);
    fields.charactersIgnoringModifiers = std::move(charactersIgnoringModifiers);
    fields.isARepeat = isARepeat;
    fields.keyCode = keyCode;
    return std::make_shared<OBEvent>(std::move(fields));
}

std::shared_ptr<OBEvent> OBEvent::otherEventWithType(int type, Point location,
                                                     uint32_t modifierFlags, double timestamp,
                                                     int windowNumber, int subtype, long data1,
                                                     long data2) {
    // Code 0 stands for no event at all; there is nothing to build from it.
    if (type == 0 || isMouseEventType(type) || isKeyEventType(type))
        throw EventError(describeType("otherEventWithType", type));
    // Subtype and data words carry nothing this system reads back.
    (void)subtype;
    (void)data1;
    (void)data2;
    return std::make_shared<OBEvent>(
        commonFields(type, location, modifierFlags, timestamp, windowNumber));
}

std::shared_ptr<OBEvent> OBEvent::scrollWheelEvent(int32_t wheel1, int32_t wheel2, int32_t wheel3,
                                                   Point location, float unflipHeight,
                                                   uint32_t modifierFlags) {
    Fields fields;
    fields.type = NSScrollWheel;
    fields.modifierFlags = modifierFlags;
    // Pixel amounts read back a tenth per pixel; division in double keeps
    // large amounts as exact as a float allows.
    fields.deltaY = static_cast<float>(wheel1 / 10.0);
    fields.deltaX = static_cast<float>(wheel2 / 10.0);
    fields.deltaZ = static_cast<float>(wheel3 / 10.0);
    fields.locationInWindow = unflippedLocation(location, unflipHeight);
    return std::make_shared<OBEvent>(std::move(fields));
}

int32_t wheelAmountFromDelta(float delta) {
    const double amount = std::trunc(static_cast<double>(delta) * 10);
    if (std::isnan(amount)) return 0;
    if (amount >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (amount <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(amount);
}

}  // namespace lumivane
