#include "shared/EventPropertyList.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "base/Log.h"
#include "platform/events/OBEvent.h"

namespace lumivane {
namespace {

namespace Key = EventPlistKey;

bool isButtonOrDragType(int type) {
    return isMouseEventType(type) && type != NSMouseMoved;
}

bool hasDeltas(int type) {
    return type == NSMouseMoved || type == NSLeftMouseDragged || type == NSRightMouseDragged ||
           type == NSScrollWheel || type == NSOtherMouseDragged;
}

// -0.0 and NaN count as zero, so neither is ever written.
bool isNonZero(float value) {
    return value != 0 && !std::isnan(value);
}

PlistValue realFrom(float value) {
    return PlistValue(static_cast<double>(value));
}

void putIfNonZero(PlistDict& plist, const char* key, int value) {
    if (value != 0) plist.set(key, PlistValue(value));
}

void putIfNonZero(PlistDict& plist, const char* key, float value) {
    if (isNonZero(value)) plist.set(key, realFrom(value));
}

void putButtonOrDragFields(PlistDict& plist, const Event& event) {
    putIfNonZero(plist, Key::clickCount, event.clickCount());
    if (event.type() >= NSOtherMouseDown && event.type() <= NSOtherMouseDragged)
        plist.set(Key::buttonNumber, PlistValue(event.buttonNumber()));
    putIfNonZero(plist, Key::eventNumber, event.eventNumber());
    putIfNonZero(plist, Key::pressure, event.pressure());
    plist.set(Key::locationInWindow, stringFromPoint(event.locationInWindow()));
}

void putKeyFields(PlistDict& plist, const Event& event) {
    // An event without characters still gets the key: the list always holds
    // one for key downs and key ups, an empty string standing for none.
    plist.set(Key::characters, event.characters().value_or(""));
    plist.set(Key::charactersIgnoringModifiers, event.charactersIgnoringModifiers().value_or(""));
    plist.set(Key::isARepeat, PlistValue(event.isARepeat() ? 1 : 0));
    plist.set(Key::keyCode, PlistValue(static_cast<int>(event.keyCode())));
}

// --- reading ----------------------------------------------------------------

const PlistValue& valueFor(const PlistDict& plist, const char* key) {
    static const PlistValue none;
    const PlistValue* value = plist.find(key);
    return value ? *value : none;
}

Point locationFrom(const PlistDict& plist, Point defaultLocation) {
    // Only text is a location; a value of another type is treated as absent.
    const std::string* text = valueFor(plist, Key::locationInWindow).asString();
    if (!text || text->empty()) return defaultLocation;
    return pointFromString(*text);
}

int typeFrom(const PlistDict& plist) {
    const std::string* name = valueFor(plist, Key::type).asString();
    return name ? eventTypeFromName(*name) : 0;
}

std::optional<std::string> textFrom(const PlistDict& plist, const char* key) {
    const std::string* text = valueFor(plist, key).asString();
    if (!text) return std::nullopt;
    return *text;
}

uint32_t modifierFlagsFrom(const PlistDict& plist) {
    return static_cast<uint32_t>(valueFor(plist, Key::modifierFlags).intValue());
}

int32_t wheelAmount(const PlistDict& plist, const char* key) {
    return wheelAmountFromDelta(static_cast<float>(valueFor(plist, key).doubleValue()));
}

std::shared_ptr<OBEvent> buildEvent(const PlistDict& plist, int type, Point location) {
    uint32_t flags = modifierFlagsFrom(plist);
    if (isMouseEventType(type)) {
        return OBEvent::mouseEventWithType(
            type, location, flags, 0, 0, valueFor(plist, Key::eventNumber).intValue(),
            valueFor(plist, Key::clickCount).intValue(),
            static_cast<float>(valueFor(plist, Key::pressure).doubleValue()));
    }
    if (isKeyEventType(type)) {
        return OBEvent::keyEventWithType(
            type, location, flags, 0, 0, textFrom(plist, Key::characters),
            textFrom(plist, Key::charactersIgnoringModifiers),
            valueFor(plist, Key::isARepeat).boolValue(),
            static_cast<uint16_t>(valueFor(plist, Key::keyCode).intValue() & 0xFFFF));
    }
    if (type == NSScrollWheel) {
        // The flags are written for every kind, scrolls included; they come
        // back too, so a modifier held while scrolling is not lost.
        return OBEvent::scrollWheelEvent(wheelAmount(plist, Key::deltaY),
                                         wheelAmount(plist, Key::deltaX),
                                         wheelAmount(plist, Key::deltaZ), location, 0, flags);
    }
    return OBEvent::otherEventWithType(type, location, flags, 0, 0, 0, 0, 0);
}

// --- description --------------------------------------------------------------

void appendQuoted(std::string& out, const std::string& text) {
    out += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            static const char* hex = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

void describeInto(std::string& out, const PlistValue& value, int depth);

void describeDict(std::string& out, const PlistDict& dict, int depth) {
    out += '{';
    for (const auto& [key, item] : dict) {
        appendQuoted(out, key);
        out += " = ";
        describeInto(out, item, depth + 1);
        out += "; ";
    }
    out += '}';
}

void describeInto(std::string& out, const PlistValue& value, int depth) {
    if (depth > 64) {
        out += "...";
        return;
    }
    switch (value.type()) {
        case PlistValue::Type::String:
            appendQuoted(out, *value.asString());
            break;
        case PlistValue::Type::Boolean:
            out += value.boolValue() ? "true" : "false";
            break;
        case PlistValue::Type::Integer:
        case PlistValue::Type::Real:
            out += value.stringValue();
            break;
        case PlistValue::Type::Data:
            out += "<" + std::to_string(value.asData()->bytes.size()) + " bytes>";
            break;
        case PlistValue::Type::Date:
            out += "<date " + shortestText(value.asDate()->seconds) + ">";
            break;
        case PlistValue::Type::Array:
            out += '(';
            for (const auto& item : *value.asArray()) {
                describeInto(out, item, depth + 1);
                out += ", ";
            }
            out += ')';
            break;
        case PlistValue::Type::Dict:
            describeDict(out, *value.asDict(), depth);
            break;
        case PlistValue::Type::None:
            out += "(null)";
            break;
    }
}

}  // namespace

std::string_view eventTypeName(int code) {
    for (const EventKind& kind : kEventKinds)
        if (kind.code == code) return kind.name;
    return {};
}

int eventTypeFromName(std::string_view name) {
    for (const EventKind& kind : kEventKinds)
        if (kind.name == name) return kind.code;
    return 0;
}

PlistDict propertyListRepresentation(const Event& event) {
    PlistDict plist;
    plist.reserve(3);
    const int type = event.type();
    plist.set(Key::type, std::string(eventTypeName(type)));
    if (event.modifierFlags() != 0)
        plist.set(Key::modifierFlags, PlistValue(static_cast<int32_t>(event.modifierFlags())));
    if (isButtonOrDragType(type)) putButtonOrDragFields(plist, event);
    if (type == NSMouseMoved)
        plist.set(Key::locationInWindow, stringFromPoint(event.locationInWindow()));
    if (hasDeltas(type)) {
        putIfNonZero(plist, Key::deltaX, event.deltaX());
        putIfNonZero(plist, Key::deltaY, event.deltaY());
        putIfNonZero(plist, Key::deltaZ, event.deltaZ());
    }
    if (type == NSKeyDown || type == NSKeyUp) putKeyFields(plist, event);
    return plist;
}

std::shared_ptr<Event> eventFromPropertyList(const PlistDict& plist,
                                             Point defaultLocationInWindow) {
    Point location = locationFrom(plist, defaultLocationInWindow);
    int type = typeFrom(plist);
    try {
        return buildEvent(plist, type, location);
    } catch (const EventError& error) {
        nsLog("Error creating event [%s] from property list %s", error.what(),
              describePropertyList(PlistValue(plist)).c_str());
        return nullptr;
    }
}

std::string describePropertyList(const PlistValue& value) {
    std::string out;
    describeInto(out, value, 0);
    return out;
}

}  // namespace lumivane
