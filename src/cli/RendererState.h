// Process-wide values of the renderer.
#pragma once

#include <cstdint>
#include <functional>

namespace lumivane {

// Raised by -v; read by the settings echo and the console progress lines.
int32_t verbosityLevel();
void setVerbosityLevel(int32_t level);

// A console report on standard output (frame lines, pre-roll progress). Once
// a write fails (a reader closed the pipe) the console stays quiet; the render
// goes on.
void consoleLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// One pass of the renderer's run loop: serves the render link between frames.
void setRunLoopPass(std::function<void()> pass);
void runLoopPass();

}  // namespace lumivane
