// Command-line mode: the option scan, the duration rule and the composition check.
#pragma once

#include <cstdio>
#include <optional>

#include "shared/RenderSettings.h"

namespace lumivane {

// Applies the renderer's defaults to a new record.
void applyRendererDefaults(RenderSettings& settings);

// Fills `settings` from the arguments. Returns the routine's result when it
// must stop here (-1 after an option error or a help/version option, 0 after
// "-c help" has printed the codec list or "--frames count" the frame count to
// `out`), nothing when the render should go ahead.
std::optional<int> scanCommandLine(int argc, const char* const* argv, RenderSettings& settings,
                                   FILE* out, FILE* err);

}  // namespace lumivane
