#include "cli/EventReplay.h"

#include <climits>
#include <cmath>
#include <memory>

#include "base/Log.h"
#include "platform/engine/OffscreenRenderer.h"
#include "platform/events/OBEvent.h"

namespace lumivane {
namespace {

enum class Role { Discrete, Drag, Scroll, Passing };

Role roleOf(int type) {
    switch (type) {
        case NSLeftMouseDown:
        case NSLeftMouseUp:
        case NSRightMouseDown:
        case NSRightMouseUp:
        case NSKeyDown:
        case NSKeyUp:
        case NSFlagsChanged:
        case NSOtherMouseDown:
        case NSOtherMouseUp:
            return Role::Discrete;
        case NSLeftMouseDragged:
        case NSRightMouseDragged:
        case NSOtherMouseDragged:
            return Role::Drag;
        case NSScrollWheel:
            return Role::Scroll;
        default:
            return Role::Passing;
    }
}

// Folds one scroll entry into the scroll event synthesised so far in this call.
std::shared_ptr<const Event> foldScroll(const Event& entryEvent,
                                        const std::shared_ptr<const Event>& previous) {
    auto delta = [&](float (Event::*axis)() const) {
        return wheelAmountFromDelta((entryEvent.*axis)() +
                                    (previous ? ((*previous).*axis)() : 0.0f));
    };
    int32_t wheelY = delta(&Event::deltaY);
    int32_t wheelX = delta(&Event::deltaX);
    int32_t wheelZ = delta(&Event::deltaZ);
    return OBEvent::scrollWheelEvent(wheelY, wheelX, wheelZ, entryEvent.locationInWindow());
}

}  // namespace

std::optional<RenderArguments> scanRecordedEvents(const EventArray* events, size_t& cursor,
                                                  double time) {
    const RecordedEventEntry* chosen = nullptr;
    std::shared_ptr<const Event> scroll;
    int pendingType = 0;
    bool stop = false;

    while (!stop && events && cursor < events->size()) {
        const RecordedEventEntry& entry = (*events)[cursor];
        double eventTime = entry.eventTime.value_or(0.0);
        if (eventTime > time) break;
        // An entry whose event could not be rebuilt reads as type 0.
        int type = entry.event ? entry.event->type() : 0;
        if (pendingType != 0 && type != pendingType) break;

        ++cursor;
        chosen = &entry;
        switch (roleOf(type)) {
            case Role::Discrete:
                stop = true;
                break;
            case Role::Drag:
                pendingType = type;
                break;
            case Role::Scroll:
                scroll = foldScroll(*entry.event, scroll);
                pendingType = NSScrollWheel;
                break;
            case Role::Passing:
                break;
        }
    }

    if (scroll) {
        RenderArguments arguments;
        arguments.event = scroll;
        arguments.mouseLocation = chosen->mouseLocation;
        return arguments;
    }
    if (chosen) return *chosen;
    return std::nullopt;
}

void renderAtTimeWithEvents(OffscreenRenderer& renderer, const EventArray* events, size_t& cursor,
                            double time) {
    auto arguments = scanRecordedEvents(events, cursor, time);
    auto rendered = renderer.renderAtTime(time, arguments ? &*arguments : nullptr);
    // The frame keeps the previous image; the render goes on, but the log says why.
    if (!rendered) logLine("LumivaneCLI: " + rendered.error());
}

}  // namespace lumivane
