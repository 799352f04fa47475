// Input events with the fields, type codes and modifier bits of the desktop's
// event model, so recordings carry the same numbers everywhere.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/events/Point.h"

namespace lumivane {

enum EventType : int {
    NSLeftMouseDown = 1,
    NSLeftMouseUp = 2,
    NSRightMouseDown = 3,
    NSRightMouseUp = 4,
    NSMouseMoved = 5,
    NSLeftMouseDragged = 6,
    NSRightMouseDragged = 7,
    NSMouseEntered = 8,
    NSMouseExited = 9,
    NSKeyDown = 10,
    NSKeyUp = 11,
    NSFlagsChanged = 12,
    NSAppKitDefined = 13,
    NSSystemDefined = 14,
    NSApplicationDefined = 15,
    NSPeriodic = 16,
    NSCursorUpdate = 17,
    NSScrollWheel = 22,
    NSTabletPoint = 23,
    NSTabletProximity = 24,
    NSOtherMouseDown = 25,
    NSOtherMouseUp = 26,
    NSOtherMouseDragged = 27,
};

enum ModifierFlag : uint32_t {
    NSAlphaShiftKeyMask = 1u << 16,
    NSShiftKeyMask = 1u << 17,
    NSControlKeyMask = 1u << 18,
    NSAlternateKeyMask = 1u << 19,
    NSCommandKeyMask = 1u << 20,
    NSNumericPadKeyMask = 1u << 21,
    NSHelpKeyMask = 1u << 22,
    NSFunctionKeyMask = 1u << 23,
};

// Thrown by a factory that cannot build the event it is asked for.
class EventError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Event {
public:
    struct Fields {
        int type = 0;
        uint32_t modifierFlags = 0;
        int clickCount = 0;
        int buttonNumber = 0;
        int eventNumber = 0;
        float pressure = 0;
        Point locationInWindow;
        float deltaX = 0;
        float deltaY = 0;
        float deltaZ = 0;
        std::optional<std::string> characters;
        std::optional<std::string> charactersIgnoringModifiers;
        bool isARepeat = false;
        uint16_t keyCode = 0;
        double timestamp = 0;
        int windowNumber = 0;
    };

    explicit Event(Fields fields) : m_fields(std::move(fields)) {}
    virtual ~Event() = default;

    int type() const { return m_fields.type; }
    uint32_t modifierFlags() const { return m_fields.modifierFlags; }
    int clickCount() const { return m_fields.clickCount; }
    int buttonNumber() const { return m_fields.buttonNumber; }
    int eventNumber() const { return m_fields.eventNumber; }
    float pressure() const { return m_fields.pressure; }
    Point locationInWindow() const { return m_fields.locationInWindow; }
    float deltaX() const { return m_fields.deltaX; }
    float deltaY() const { return m_fields.deltaY; }
    float deltaZ() const { return m_fields.deltaZ; }
    const std::optional<std::string>& characters() const { return m_fields.characters; }
    const std::optional<std::string>& charactersIgnoringModifiers() const {
        return m_fields.charactersIgnoringModifiers;
    }
    bool isARepeat() const { return m_fields.isARepeat; }
    uint16_t keyCode() const { return m_fields.keyCode; }
    double timestamp() const { return m_fields.timestamp; }
    int windowNumber() const { return m_fields.windowNumber; }
    const Fields& fields() const { return m_fields; }

protected:
    Fields m_fields;
};

}  // namespace lumivane
