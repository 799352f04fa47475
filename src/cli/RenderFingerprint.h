// What decides the frames of a render, as the origin its chunks carry
// (MovieChunk): chunks with the same origin are pieces of one render, so a
// join can refuse a piece of another composition or other settings.
#pragma once

#include <string>

#include "cli/RenderPlan.h"
#include "platform/engine/Composition.h"
#include "shared/RenderSettings.h"

namespace lumivane {

// One "name=value" line each: the composition's files by content (document,
// vertex shader, imported images), the output size, codec and quality, every
// timing, anti-aliasing and motion-blur setting, the published-input values
// the composition takes and the recording's events.
std::string renderFingerprint(const RenderSettings& settings, const Composition& composition,
                              const RenderPlan& plan);

}  // namespace lumivane
