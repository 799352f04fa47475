// The renderer's way out on a stop request (SIGINT, SIGTERM, SIGHUP) or when
// the application has gone: the output written so far is finished and the
// process exits with status 0, after one line on standard error saying how
// many frames the output holds.
//
// The signal handler only records the request; the flush runs on the main
// thread at the next checkpoint (between frames, between motion-blur samples,
// between pre-roll renders, and in every wait that watches the request). A
// second request while the movie is still being completed changes nothing;
// once the completed movie is being rewritten, another request exits at once,
// since the fragmented movie already holds every frame. A third request
// always exits at once after removing half-built files.
//
// Faults never end with status 0. One of the process's own (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL, SIGTRAP, SIGABRT raised by the processor or by the process)
// removes half-built files and ends the process by that signal; the same
// signals sent by another process stop the render as a request does and then
// end the process by the signal. A signal ignored when the process started
// (nohup, a background job) stays ignored.
#pragma once

#include <functional>

namespace lumivane {

// Installs the handler for the stop signals and the faults that were not
// ignored at start, and ignores SIGPIPE: a closed pipe or socket shows as a
// failed write instead. First thing in the process: a stop that comes before
// it is lost or ends the process by the default action.
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
