// A render a benchmark cannot do without: a failure ends the run with its
// reason rather than timing frames that were never drawn.
#pragma once

#include "platform/engine/EngineError.h"
#include "platform/engine/OffscreenRenderer.h"

namespace lumivane::bench {

inline void render(OffscreenRenderer& renderer, double time) {
    if (auto rendered = renderer.renderAtTime(time, nullptr); !rendered)
        throw EngineError(rendered.error());
}

}  // namespace lumivane::bench
