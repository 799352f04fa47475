#include "platform/engine/UserInputState.h"

#include "platform/events/KeyCodes.h"

namespace lumivane {
namespace {

enum Row { Held = 0, Pressed = 1, Toggled = 2 };

// The modifier flag of a modifier key, by its JavaScript code.
uint32_t modifierMaskOf(int code) {
    for (const KeyCodeEntry& entry : keyCodeTable()) {
        if (entry.modifierMask && entry.javaScriptCode == code) return entry.modifierMask;
    }
    return 0;
}

}  // namespace

int UserInputState::javaScriptKeyCode(const Event& event) {
    if (int code = javaScriptCodeForSpecialKey(event.keyCode())) return code;
    const auto& chars = event.charactersIgnoringModifiers() ? event.charactersIgnoringModifiers()
                                                            : event.characters();
    if (chars && chars->size() == 1) {
        if (int code = javaScriptCodeForCharacter(static_cast<unsigned char>((*chars)[0])))
            return code;
    }
    return javaScriptCodeForLayoutKey(event.keyCode());
}

void UserInputState::setKey(int row, int code, bool on) {
    uint8_t& cell = m_keyboard[row * kKeyboardWidth + code];
    const uint8_t value = on ? 255 : 0;
    if (cell != value) m_keyboardChanged = true;
    cell = value;
}

void UserInputState::apply(const RenderArguments* arguments) {
    m_keyboardChanged = false;
    for (int code = 0; code < kKeyboardWidth; ++code) setKey(Pressed, code, false);
    if (!arguments) return;
    if (arguments->mouseLocation) m_mouse = *arguments->mouseLocation;
    if (arguments->event) applyEvent(*arguments->event, *arguments);
}

void UserInputState::applyEvent(const Event& event, const RenderArguments& arguments) {
    m_modifiers = int(event.modifierFlags());
    const auto press = [&](int bit) {
        m_mouseButtons |= bit;
        if (arguments.mouseLocation) m_mouseClick = *arguments.mouseLocation;
    };
    switch (event.type()) {
        case NSLeftMouseDown:
            press(1);
            break;
        case NSRightMouseDown:
            press(2);
            break;
        case NSOtherMouseDown:
            press(4);
            break;
        case NSLeftMouseUp:
            m_mouseButtons &= ~1;
            break;
        case NSRightMouseUp:
            m_mouseButtons &= ~2;
            break;
        case NSOtherMouseUp:
            m_mouseButtons &= ~4;
            break;
        case NSLeftMouseDragged:
            m_mouseButtons |= 1;
            break;
        case NSRightMouseDragged:
            m_mouseButtons |= 2;
            break;
        case NSOtherMouseDragged:
            m_mouseButtons |= 4;
            break;
        case NSScrollWheel:
            m_scroll[0] += event.deltaX();
            m_scroll[1] += event.deltaY();
            m_scroll[2] += event.deltaZ();
            break;
        case NSKeyDown:
            applyKey(event, true);
            break;
        case NSKeyUp:
            applyKey(event, false);
            break;
        case NSFlagsChanged:
            applyFlags(event);
            break;
        default:
            break;
    }
}

void UserInputState::applyKey(const Event& event, bool down) {
    const int code = javaScriptKeyCode(event);
    if (code <= 0 || code >= kKeyboardWidth) return;
    if (down && !event.isARepeat() && !key(Held, code)) {
        setKey(Pressed, code, true);
        setKey(Toggled, code, !key(Toggled, code));
    }
    setKey(Held, code, down);
}

// A modifier key reports no up or down; its flag in the event says which.
void UserInputState::applyFlags(const Event& event) {
    const int code = javaScriptCodeForSpecialKey(event.keyCode());
    const uint32_t mask = modifierMaskOf(code);
    if (!mask) return;
    const bool down = (event.modifierFlags() & mask) != 0;
    if (down && !key(Held, code)) {
        setKey(Pressed, code, true);
        setKey(Toggled, code, !key(Toggled, code));
    }
    setKey(Held, code, down);
}

}  // namespace lumivane
