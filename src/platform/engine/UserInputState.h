// The input uniforms a composition sees (MOUSE, MOUSECLICK, MOUSEBUTTONS,
// SCROLL, KEYBOARD, MODIFIERS), built up from the event and mouse location
// handed to each render and kept between renders.
#pragma once

#include <array>
#include <cstdint>

#include "platform/engine/EngineKeys.h"
#include "platform/events/Event.h"

namespace lumivane {

class UserInputState {
public:
    static constexpr int kKeyboardWidth = 256;
    static constexpr int kKeyboardRows = 3;  // held, pressed at this render, toggled

    // Called once per render, before the render draws.
    void apply(const RenderArguments* arguments);

    Point mouse() const { return m_mouse; }
    Point mouseClick() const { return m_mouseClick; }
    int mouseButtons() const { return m_mouseButtons; }
    const std::array<float, 3>& scroll() const { return m_scroll; }
    int modifiers() const { return m_modifiers; }
    // 256 x 3 bytes, row 0 first (0 or 255).
    const std::array<uint8_t, kKeyboardWidth * kKeyboardRows>& keyboard() const {
        return m_keyboard;
    }
    bool keyboardChanged() const { return m_keyboardChanged; }

    // JavaScript key code of a key event (from its characters, else its key
    // code); 0 when the key has none.
    static int javaScriptKeyCode(const Event& event);

private:
    void applyEvent(const Event& event, const RenderArguments& arguments);
    void applyKey(const Event& event, bool down);
    void applyFlags(const Event& event);
    void setKey(int row, int code, bool on);
    bool key(int row, int code) const { return m_keyboard[row * kKeyboardWidth + code] != 0; }

    Point m_mouse;
    Point m_mouseClick;
    int m_mouseButtons = 0;
    std::array<float, 3> m_scroll{};
    int m_modifiers = 0;
    std::array<uint8_t, kKeyboardWidth * kKeyboardRows> m_keyboard{};
    bool m_keyboardChanged = true;
};

}  // namespace lumivane
