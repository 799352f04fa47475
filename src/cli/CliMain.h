#pragma once

namespace lumivane {

// The renderer's main routine; its result is the process exit status
// (-1 becomes 255, -2 becomes 254).
int cliMain(int argc, const char* const* argv);

}  // namespace lumivane
