#pragma once

#include "shared/RenderSettings.h"

namespace lumivane {

// Renders the composition of `settings` into its output: 0 when every frame
// was written and the output finished, -1 after a failure (already logged
// and reported to the application).
int renderComposition(RenderSettings& settings);

}  // namespace lumivane
