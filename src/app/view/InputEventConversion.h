// Qt's mouse, wheel and key events as the engine's events, with the type
// codes, modifier bits and virtual key codes recordings carry.
#pragma once

#include <cstdint>
#include <memory>

#include <Qt>

#include "platform/events/OBEvent.h"

class QKeyEvent;
class QMouseEvent;
class QWheelEvent;
class QWidget;

namespace lumivane {

uint32_t modifierFlagsFromQt(Qt::KeyboardModifiers modifiers);

// The event type of a press, release or move (a move with a button held is
// a drag of that button).
int mouseEventType(const QMouseEvent& event);

// Locations are in the view's window, origin bottom-left.
std::shared_ptr<OBEvent> mouseEventFromQt(const QMouseEvent& event, const QWidget& view);
std::shared_ptr<OBEvent> scrollEventFromQt(const QWheelEvent& event, const QWidget& view);

// Key presses and releases; a modifier key alone becomes a flags-changed
// event. `heldModifiers` tracks the modifier keys between calls; `repeat`
// marks a key-down as a repeat the toolkit did not flag.
std::shared_ptr<OBEvent> keyEventFromQt(const QKeyEvent& event, bool down, const QWidget& view,
                                        uint32_t& heldModifiers, bool repeat = false);

}  // namespace lumivane
