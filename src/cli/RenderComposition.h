#pragma once

#include "shared/RenderSettings.h"

namespace lumivane {

// What renderComposition returns when the settings ask for what no render
// does (too long a pre-roll, a value an input cannot take from them): the
// fault of whoever gave the settings, found only once the composition is
// known.
inline constexpr int kRenderRefused = -3;

// Renders the composition of `settings` into its output: 0 when every frame
// was written and the output finished, -1 after a failure, kRenderRefused
// after a refusal (both already logged and reported to the application).
int renderComposition(RenderSettings& settings);

}  // namespace lumivane
