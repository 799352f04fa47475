#include "app/InputEventConversion.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>

namespace lumivane {
namespace {

// Names no key: 0 is the virtual code of "A".
constexpr uint16_t kNoKeyCode = 0xFFFF;

struct KeyCode {
    int qtKey;
    uint16_t virtualCode;
    uint32_t modifierMask;  // for modifier keys
};

// Desktop virtual key codes of the keys whose characters say nothing.
constexpr KeyCode kKeyCodes[] = {
    {Qt::Key_Return, 0x24, 0},
    {Qt::Key_Enter, 0x4C, 0},
    {Qt::Key_Tab, 0x30, 0},
    {Qt::Key_Backtab, 0x30, 0},
    {Qt::Key_Space, 0x31, 0},
    {Qt::Key_Backspace, 0x33, 0},
    {Qt::Key_Escape, 0x35, 0},
    {Qt::Key_Delete, 0x75, 0},
    {Qt::Key_Home, 0x73, 0},
    {Qt::Key_End, 0x77, 0},
    {Qt::Key_PageUp, 0x74, 0},
    {Qt::Key_PageDown, 0x79, 0},
    {Qt::Key_Left, 0x7B, 0},
    {Qt::Key_Up, 0x7E, 0},
    {Qt::Key_Right, 0x7C, 0},
    {Qt::Key_Down, 0x7D, 0},
    {Qt::Key_F1, 0x7A, 0},
    {Qt::Key_F2, 0x78, 0},
    {Qt::Key_F3, 0x63, 0},
    {Qt::Key_F4, 0x76, 0},
    {Qt::Key_F5, 0x60, 0},
    {Qt::Key_F6, 0x61, 0},
    {Qt::Key_F7, 0x62, 0},
    {Qt::Key_F8, 0x64, 0},
    {Qt::Key_F9, 0x65, 0},
    {Qt::Key_F10, 0x6D, 0},
    {Qt::Key_F11, 0x67, 0},
    {Qt::Key_F12, 0x6F, 0},
    {Qt::Key_Shift, 0x38, NSShiftKeyMask},
    {Qt::Key_Control, 0x3B, NSControlKeyMask},
    {Qt::Key_Alt, 0x3A, NSAlternateKeyMask},
    {Qt::Key_Meta, 0x37, NSCommandKeyMask},
    {Qt::Key_CapsLock, 0x39, NSAlphaShiftKeyMask},
};

const KeyCode* keyCodeOf(int qtKey) {
    for (const KeyCode& code : kKeyCodes) {
        if (code.qtKey == qtKey) return &code;
    }
    return nullptr;
}

Point windowLocation(const QPointF& position, const QWidget& view) {
    const QWidget* window = view.window();
    const QPointF inWindow = view.mapTo(window, position);
    return {float(inWindow.x()), float(window->height() - inWindow.y())};
}

int windowNumberOf(const QWidget& view) {
    const QWindow* handle = view.window()->windowHandle();
    return handle ? int(handle->winId()) : 0;
}

double seconds(const QInputEvent& event) {
    return double(event.timestamp()) / 1000.0;
}

}  // namespace

uint32_t modifierFlagsFromQt(Qt::KeyboardModifiers modifiers) {
    uint32_t flags = 0;
    if (modifiers & Qt::ShiftModifier) flags |= NSShiftKeyMask;
    if (modifiers & Qt::ControlModifier) flags |= NSControlKeyMask;
    if (modifiers & Qt::AltModifier) flags |= NSAlternateKeyMask;
    if (modifiers & Qt::MetaModifier) flags |= NSCommandKeyMask;
    if (modifiers & Qt::KeypadModifier) flags |= NSNumericPadKeyMask;
    return flags;
}

int mouseEventType(const QMouseEvent& event) {
    const Qt::MouseButton button = event.button();
    switch (event.type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            return button == Qt::LeftButton    ? NSLeftMouseDown
                   : button == Qt::RightButton ? NSRightMouseDown
                                               : NSOtherMouseDown;
        case QEvent::MouseButtonRelease:
            return button == Qt::LeftButton    ? NSLeftMouseUp
                   : button == Qt::RightButton ? NSRightMouseUp
                                               : NSOtherMouseUp;
        default:
            break;
    }
    const Qt::MouseButtons held = event.buttons();
    if (held & Qt::LeftButton) return NSLeftMouseDragged;
    if (held & Qt::RightButton) return NSRightMouseDragged;
    if (held != Qt::NoButton) return NSOtherMouseDragged;
    return NSMouseMoved;
}

std::shared_ptr<OBEvent> mouseEventFromQt(const QMouseEvent& event, const QWidget& view) {
    const int type = mouseEventType(event);
    const bool press =
        type == NSLeftMouseDown || type == NSRightMouseDown || type == NSOtherMouseDown;
    const int clicks = event.type() == QEvent::MouseButtonDblClick ? 2 : (press ? 1 : 0);
    return OBEvent::mouseEventWithType(type, windowLocation(event.position(), view),
                                       modifierFlagsFromQt(event.modifiers()), seconds(event),
                                       windowNumberOf(view), 0, clicks, press ? 1.0f : 0.0f);
}

std::shared_ptr<OBEvent> scrollEventFromQt(const QWheelEvent& event, const QWidget& view) {
    // One wheel notch (120 eighths of a degree) reads back as a delta of 1.
    const QPoint pixels = event.pixelDelta();
    const QPoint amount = pixels.isNull() ? event.angleDelta() / 12 : pixels;
    const QPointF global = event.globalPosition();
    const QScreen* screen = view.screen();
    const float screenHeight = screen ? float(screen->geometry().height()) : 0.0f;
    return OBEvent::scrollWheelEvent(amount.y(), amount.x(), 0,
                                     Point{float(global.x()), float(global.y())}, screenHeight,
                                     modifierFlagsFromQt(event.modifiers()));
}

std::shared_ptr<OBEvent> keyEventFromQt(const QKeyEvent& event, bool down, const QWidget& view,
                                        uint32_t& heldModifiers) {
    const KeyCode* code = keyCodeOf(event.key());
    const QPointF cursor = view.mapFromGlobal(QCursor::pos());
    const Point location = windowLocation(cursor, view);
    if (code && code->modifierMask) {
        // The flags of a flags-changed event say whether the key went down.
        if (down) {
            heldModifiers |= code->modifierMask;
        } else {
            heldModifiers &= ~code->modifierMask;
        }
        const uint32_t flags =
            (modifierFlagsFromQt(event.modifiers()) & ~code->modifierMask) | heldModifiers;
        return OBEvent::keyEventWithType(NSFlagsChanged, location, flags, seconds(event),
                                         windowNumberOf(view), std::nullopt, std::nullopt, false,
                                         code->virtualCode);
    }
    std::optional<std::string> characters;
    std::optional<std::string> unmodified;
    if (!event.text().isEmpty()) characters = event.text().toStdString();
    const int key = event.key();
    if (key >= 0x20 && key < 0x7F) {
        QString plain{QChar(key)};
        if (!(event.modifiers() & Qt::ShiftModifier)) plain = plain.toLower();
        unmodified = plain.toStdString();
    } else {
        unmodified = characters;
    }
    return OBEvent::keyEventWithType(down ? NSKeyDown : NSKeyUp, location,
                                     modifierFlagsFromQt(event.modifiers()), seconds(event),
                                     windowNumberOf(view), characters, unmodified,
                                     event.isAutoRepeat(), code ? code->virtualCode : kNoKeyCode);
}

}  // namespace lumivane
