// The renderer's way out on a stop request (SIGINT, SIGTERM, SIGHUP), a fault,
// or when the application has gone: the output written so far is finished and
// the process exits with status 0, after one line on standard error saying how
// many frames the output holds.
//
// The signal handler only records the request; the flush runs on the main
// thread at the next checkpoint (between frames, between motion-blur samples,
// between pre-roll renders, and in every wait that watches the request). A
// second request while the movie is still being completed changes nothing;
// once the completed movie is being rewritten, another request exits at once,
// since the fragmented movie already holds every frame. A third request, or a
// real fault, always exits at once after removing half-built files.
#pragma once

#include <functional>

namespace lumivane {

// Installs the handler for the stop signals and the faults, and ignores
// SIGPIPE: a closed pipe or socket shows as a failed write instead.
void installTerminationPath();

// What the path flushes: the current movie, when there is one.
void setTerminationFlush(std::function<void()> flush);

// What the stop line reports. A negative count means not yet known.
void setTerminationFrameCount(int frameCount);
void setTerminationFramesHeld(int framesHeld);

// Between these, the completed movie is being rewritten: a further stop
// request may exit at once without losing a frame.
void beginMovieRewrite();
void endMovieRewrite();

// True once a stop has been requested.
bool terminationRequested();

// Takes the path now if a stop has been requested.
void terminationCheckpoint();

// Enters the path directly, as for the given signal; never returns. `reason`
// replaces the signal's name in the stop line.
[[noreturn]] void terminate(int signalNumber, const char* reason = nullptr);

}  // namespace lumivane
