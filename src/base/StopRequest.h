// A process-wide request to stop, made from a signal handler. Every long wait
// (loading a file, the render link, the pre-roll) looks at it often enough to
// notice a stop within a fraction of a second; what stopping means is the
// program's to decide.
#pragma once

namespace lumivane {

// Async-signal-safe.
void requestStop() noexcept;
bool stopRequested() noexcept;

// How long a wait may go without looking at the request.
inline constexpr int kStopPollMilliseconds = 100;

}  // namespace lumivane
