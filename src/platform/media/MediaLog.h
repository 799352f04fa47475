// FFmpeg's messages in the program's log: one logLine per message,
// "[encoder] text", instead of FFmpeg's own lines on standard error.
#pragma once

namespace lumivane {

// Routes FFmpeg's log through logLine; only errors pass until a verbosity is
// set. Safe to call more than once.
void installMediaLog();
// The renderer's verbosity (the number of -v): 0 and 1 let errors through,
// 2 warnings, 3 FFmpeg's informational lines, 4 and more its verbose ones;
// below 0 nothing, for programs that report each failure in one line of their own.
void setMediaLogVerbosity(int verbosity);

}  // namespace lumivane
