#include "app/view/InputEventConversion.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>

#include "platform/events/KeyCodes.h"

namespace lumivane {
namespace {

// Names no key: 0 is the virtual code of "A".
constexpr uint16_t kNoKeyCode = 0xFFFF;

// The shared table names toolkit keys by number; these spot checks keep the
// numbers honest.
static_assert(Qt::Key_Escape == 0x01000000 && Qt::Key_Return == 0x01000004 &&
              Qt::Key_Shift == 0x01000020 && Qt::Key_CapsLock == 0x01000024 &&
              Qt::Key_F1 == 0x01000030 && Qt::Key_F12 == 0x0100003b && Qt::Key_A == 'A');

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
                                        uint32_t& heldModifiers, bool repeat) {
    const KeyCodeEntry* code = keyCodeForToolkitKey(event.key());
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
    return OBEvent::keyEventWithType(
        down ? NSKeyDown : NSKeyUp, location, modifierFlagsFromQt(event.modifiers()),
        seconds(event), windowNumberOf(view), characters, unmodified,
        event.isAutoRepeat() || repeat, code ? code->virtualCode : kNoKeyCode);
}

}  // namespace lumivane
