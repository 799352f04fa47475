// What the renderer requires of the composition engine: its argument keys, its
// port types, and the arguments handed to every render.
#pragma once

#include <memory>
#include <optional>

#include "platform/events/Event.h"
#include "platform/events/Point.h"

namespace lumivane {

// The engine's constants read as their own names; recording files carry the
// mouse-location key's text.
inline constexpr const char* QCRendererEventKey = "QCRendererEventKey";
inline constexpr const char* QCRendererMouseLocationKey = "QCRendererMouseLocationKey";
inline constexpr const char* QCPortAttributeTypeKey = "QCPortAttributeTypeKey";
inline constexpr const char* QCPortTypeString = "QCPortTypeString";
inline constexpr const char* QCPortTypeBoolean = "QCPortTypeBoolean";
inline constexpr const char* QCPortTypeIndex = "QCPortTypeIndex";
inline constexpr const char* QCPortTypeNumber = "QCPortTypeNumber";
inline constexpr const char* kEventTimeKey = "eventTime";

// One recorded event entry. The same record serves as the arguments of a
// render, so an entry is handed to the renderer as it stands.
struct RecordedEventEntry {
    std::shared_ptr<const Event> event;  // absent when the event could not be rebuilt
    std::optional<Point> mouseLocation;  // normalized, origin bottom-left
    std::optional<double> eventTime;     // seconds from the start of the recording
};

using RenderArguments = RecordedEventEntry;

}  // namespace lumivane
