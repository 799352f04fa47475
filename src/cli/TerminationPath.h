// The renderer's way out on a signal or when the application has gone: the
// movie written so far is finished and the process exits with status 0.
//
// The signal handler only records the signal (and exits at once on a second
// one); the flush runs on the main thread at the next checkpoint, between
// frames and between motion-blur samples, never inside the handler.
#pragma once

#include <functional>

namespace lumivane {

// Installs the handler for SIGINT, SIGTERM, SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGTRAP.
void installTerminationPath();

// What the path flushes: the current movie, when there is one.
void setTerminationFlush(std::function<void()> flush);

// True once a signal has been recorded.
bool terminationRequested();

// Takes the path now if a signal has been recorded.
void terminationCheckpoint();

// Enters the path directly, as for the given signal; never returns.
[[noreturn]] void terminate(int signalNumber);

}  // namespace lumivane
