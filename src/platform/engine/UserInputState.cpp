#include "platform/engine/UserInputState.h"

#include <cctype>
#include <cstring>

namespace lumivane {
namespace {

enum Row { Held = 0, Pressed = 1, Toggled = 2 };

// Keys that carry no useful character, by their desktop virtual key code.
int specialKeyCode(uint16_t keyCode) {
    switch (keyCode) {
        case 0x24:
        case 0x4C:
            return 13;  // return, enter
        case 0x30:
            return 9;  // tab
        case 0x31:
            return 32;  // space
        case 0x33:
            return 8;  // delete (backspace)
        case 0x35:
            return 27;  // escape
        case 0x75:
            return 46;  // forward delete
        case 0x73:
            return 36;  // home
        case 0x77:
            return 35;  // end
        case 0x74:
            return 33;  // page up
        case 0x79:
            return 34;  // page down
        case 0x7B:
            return 37;  // arrows
        case 0x7E:
            return 38;
        case 0x7C:
            return 39;
        case 0x7D:
            return 40;
        case 0x38:
        case 0x3C:
            return 16;  // shift
        case 0x3B:
        case 0x3E:
            return 17;  // control
        case 0x3A:
        case 0x3D:
            return 18;  // option
        case 0x37:
            return 91;  // command
        case 0x36:
            return 93;
        case 0x39:
            return 20;  // caps lock
        case 0x7A:
            return 112;  // F1-F12
        case 0x78:
            return 113;
        case 0x63:
            return 114;
        case 0x76:
            return 115;
        case 0x60:
            return 116;
        case 0x61:
            return 117;
        case 0x62:
            return 118;
        case 0x64:
            return 119;
        case 0x65:
            return 120;
        case 0x6D:
            return 121;
        case 0x67:
            return 122;
        case 0x6F:
            return 123;
        default:
            return 0;
    }
}

int characterKeyCode(unsigned char c) {
    if (std::isalpha(c)) return std::toupper(c);
    if (std::isdigit(c)) return c;
    static const char* const keys = ";=,-./`[\\]'";
    static const char* const shifted = ":+<_>?~{|}\"";
    static const int codes[] = {186, 187, 188, 189, 190, 191, 192, 219, 220, 221, 222};
    for (int i = 0; keys[i]; ++i) {
        if (c == keys[i] || c == shifted[i]) return codes[i];
    }
    static const char* const shiftedDigits = ")!@#$%^&*(";
    if (const char* p = std::strchr(shiftedDigits, c); p && c) return '0' + int(p - shiftedDigits);
    if (c == ' ') return 32;
    if (c == '\r' || c == 3) return 13;
    if (c == '\t') return 9;
    if (c == 27) return 27;
    if (c == 8 || c == 127) return 8;
    return 0;
}

// Key codes of the ANSI layout, for key events that carry no characters.
int layoutKeyCode(uint16_t keyCode) {
    static const char layout[] = "ASDFHGZXCV\0BQWERYT123465=97-80]OU[IP\0LJ'K;\\,/NM.";
    if (keyCode < sizeof(layout) - 1 && layout[keyCode]) {
        return characterKeyCode(static_cast<unsigned char>(layout[keyCode]));
    }
    if (keyCode == 0x32) return 192;
    return 0;
}

uint32_t modifierMaskOf(int code) {
    switch (code) {
        case 16:
            return NSShiftKeyMask;
        case 17:
            return NSControlKeyMask;
        case 18:
            return NSAlternateKeyMask;
        case 91:
        case 93:
            return NSCommandKeyMask;
        case 20:
            return NSAlphaShiftKeyMask;
        default:
            return 0;
    }
}

}  // namespace

int UserInputState::javaScriptKeyCode(const Event& event) {
    if (int code = specialKeyCode(event.keyCode())) return code;
    const auto& chars = event.charactersIgnoringModifiers() ? event.charactersIgnoringModifiers()
                                                            : event.characters();
    if (chars && chars->size() == 1) {
        if (int code = characterKeyCode(static_cast<unsigned char>((*chars)[0]))) return code;
    }
    return layoutKeyCode(event.keyCode());
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
    const int code = specialKeyCode(event.keyCode());
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
