// Delivers recorded input to the renderer: every render consumes the entries
// due by its time and passes at most one event, drags and scrolls coalesced.
#pragma once

#include <cstddef>
#include <optional>

#include "platform/engine/EngineKeys.h"
#include "shared/RenderSettings.h"

namespace lumivane {

class OffscreenRenderer;

// The scan of one render: advances `cursor` over the entries due by `time` and
// returns the arguments for the render (nothing when nothing was consumed).
std::optional<RenderArguments> scanRecordedEvents(const EventArray* events, size_t& cursor,
                                                  double time);

// The only place where the renderer is asked to render.
void renderAtTimeWithEvents(OffscreenRenderer& renderer, const EventArray* events, size_t& cursor,
                            double time);

}  // namespace lumivane
