// The event class that rebuilt and synthesised events belong to, with the
// desktop's event factories. Events are values: only the window they are
// delivered to changes after construction.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/events/Event.h"
#include "platform/events/Point.h"

namespace lumivane {

class OBEvent : public Event {
public:
    explicit OBEvent(Fields fields) : Event(std::move(fields)) {}

    // Attaches the event to a window just before delivery; the window is not
    // owned and only identifies where the event goes.
    void setWindow(const void* window, int windowNumber);
    const void* window() const { return m_window; }

    // Mouse kinds only (codes 1-7, 25-27); anything else throws EventError.
    static std::shared_ptr<OBEvent> mouseEventWithType(int type, Point location,
                                                       uint32_t modifierFlags, double timestamp,
                                                       int windowNumber, int eventNumber,
                                                       int clickCount, float pressure);
    // Key kinds only (codes 10, 11, 12); anything else throws EventError.
    static std::shared_ptr<OBEvent> keyEventWithType(
        int type, Point location, uint32_t modifierFlags, double timestamp, int windowNumber,
        std::optional<std::string> characters,
        std::optional<std::string> charactersIgnoringModifiers, bool isARepeat, uint16_t keyCode);
    // Codes that are neither mouse nor key kinds; code 0 names no event and
    // throws EventError, as do mouse and key codes.
    static std::shared_ptr<OBEvent> otherEventWithType(int type, Point location,
                                                       uint32_t modifierFlags, double timestamp,
                                                       int windowNumber, int subtype, long data1,
                                                       long data2);
    // A scroll-wheel event made from pixel amounts on three wheels, placed at
    // a top-left-origin location: it reads back delta = amount / 10 per axis
    // (wheel 1 vertical, 2 horizontal, 3 depth) and the location unflipped
    // against a main screen of the given height (0: no screen, as when rendering),
    // with the given modifier flags.
    static std::shared_ptr<OBEvent> scrollWheelEvent(int32_t wheel1, int32_t wheel2, int32_t wheel3,
                                                     Point location, float unflipHeight = 0,
                                                     uint32_t modifierFlags = 0);

private:
    const void* m_window = nullptr;
};

// The wheel amount of a scroll delta: ten times it, truncated toward zero;
// out-of-range amounts saturate and NaN gives 0 instead of an undefined
// conversion.
int32_t wheelAmountFromDelta(float delta);

bool isMouseEventType(int type);
bool isKeyEventType(int type);

// A top-left-origin global location turned into bottom-left-origin coordinates.
Point unflippedLocation(Point location, float screenHeight = 0);

}  // namespace lumivane
