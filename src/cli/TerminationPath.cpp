#include "cli/TerminationPath.h"

#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>

#include "base/Log.h"
#include "base/PendingFiles.h"
#include "base/StopRequest.h"

namespace lumivane {
namespace {

constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};
constexpr std::array<int, 6> kFaultSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT};

volatile sig_atomic_t g_stopRequests = 0;
volatile sig_atomic_t g_recordedSignal = 0;
// The first fault signal among the requests: the process ends by it.
volatile sig_atomic_t g_faultSignal = 0;
volatile sig_atomic_t g_rewriting = 0;
volatile sig_atomic_t g_frameCount = -1;
volatile sig_atomic_t g_framesHeld = 0;
std::function<void()> g_flush;

template <size_t N>
bool isOneOf(const std::array<int, N>& signals, int signalNumber) {
    for (int s : signals)
        if (s == signalNumber) return true;
    return false;
}

// Async-signal-safe text building for the line written on the way out.
struct SignalSafeLine {
    char text[160];
    size_t length = 0;

    void add(const char* part) {
        while (*part && length < sizeof text - 1) text[length++] = *part++;
    }
    void add(long number) {
        char digits[24];
        size_t count = 0;
        const bool negative = number < 0;
        unsigned long magnitude = negative ? 0UL - static_cast<unsigned long>(number)
                                           : static_cast<unsigned long>(number);
        do {
            digits[count++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (negative) add("-");
        while (count > 0 && length < sizeof text - 1) text[length++] = digits[--count];
    }
    void write() const { (void)!::write(STDERR_FILENO, text, length); }
};

// strsignal() is not async-signal-safe.
const char* faultName(int signalNumber) {
    switch (signalNumber) {
        case SIGSEGV:
            return "Segmentation fault";
        case SIGBUS:
            return "Bus error";
        case SIGFPE:
            return "Floating point exception";
        case SIGILL:
            return "Illegal instruction";
        case SIGTRAP:
            return "Trace/breakpoint trap";
        case SIGABRT:
            return "Aborted";
    }
    return "unknown";
}

// A fault must never look like success to whoever started the renderer: the
// process ends by the signal itself, as it would have without a handler.
[[noreturn]] void endBySignal(int signalNumber) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signalNumber);
    pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(signalNumber);
    _exit(128 + signalNumber);
}

[[noreturn]] void endAfterStop() {
    if (g_faultSignal != 0) endBySignal(g_faultSignal);
    _exit(0);
}

// Leaves without flushing: the files being built are worthless, the output
// stays as the last completed fragment or file left it.
[[noreturn]] void exitAtOnce(int signalNumber) {
    SignalSafeLine line;
    line.add("LumivaneCLI: stopped at once by signal ");
    line.add(static_cast<long>(signalNumber));
    if (g_rewriting && g_frameCount >= 0) {
        line.add("; the output holds ");
        line.add(static_cast<long>(g_framesHeld));
        line.add(" of ");
        line.add(static_cast<long>(g_frameCount));
        line.add(" frames");
    }
    line.add("\n");
    line.write();
    // Last, so another thread has no time to create again what was removed.
    removePendingFiles();
    endAfterStop();
}

// Nothing of the process can be trusted after a fault of its own: only the
// half-built files go, and the process ends by the signal.
[[noreturn]] void endOnFault(int signalNumber) {
    removePendingFiles();
    SignalSafeLine line;
    line.add("LumivaneCLI: ended by signal ");
    line.add(static_cast<long>(signalNumber));
    line.add(" (");
    line.add(faultName(signalNumber));
    line.add("), a fault in the renderer; completed movie fragments and image files stay\n");
    line.write();
    endBySignal(signalNumber);
}

// Raised by the processor, or by the process itself (abort, raise): as
// opposed to one sent by another process, which asks to stop.
bool isOwnFault(int signalNumber, const siginfo_t* info) {
    if (!isOneOf(kFaultSignals, signalNumber)) return false;
    return !info || info->si_code > 0 || info->si_pid == getpid();
}

void onSignal(int signalNumber, siginfo_t* info, void*) {
    if (isOwnFault(signalNumber, info)) endOnFault(signalNumber);
    // A fault signal sent from outside stops the render like any request,
    // and then ends the process by that signal.
    if (isOneOf(kFaultSignals, signalNumber) && g_faultSignal == 0) g_faultSignal = signalNumber;
    const int requests = g_stopRequests + 1;
    g_stopRequests = requests;
    if (requests == 1) {
        g_recordedSignal = signalNumber;
        requestStop();
        return;
    }
    // Before the rewrite the movie is still being completed: the flush is on
    // its way and leaving now would lose frames.
    if (g_rewriting || requests >= 3) exitAtOnce(signalNumber);
}

std::string stopLine(int signalNumber, const char* reason) {
    std::string line = "LumivaneCLI: stopped ";
    if (reason) {
        line += reason;
    } else {
        line += "by signal " + std::to_string(signalNumber);
        if (const char* name = strsignal(signalNumber)) line += " (" + std::string(name) + ")";
    }
    if (g_frameCount < 0) return line + " before rendering began";
    return line + "; the output holds " + std::to_string(g_framesHeld) + " of " +
           std::to_string(g_frameCount) + " frames";
}

[[noreturn]] void runPath(int signalNumber, const char* reason) {
    if (g_flush) {
        auto flush = std::move(g_flush);
        g_flush = nullptr;
        flush();
    }
    logLine(stopLine(signalNumber, reason));
    fflush(nullptr);
    endAfterStop();
}

// Installs the handler unless the signal was ignored when the process
// started (nohup's SIGHUP, a background job's SIGINT): the caller asked for
// that, and it holds for the whole run.
void catchUnlessIgnored(int signalNumber, const struct sigaction& action) {
    struct sigaction inherited {};
    if (sigaction(signalNumber, nullptr, &inherited) != 0) return;
    if (!(inherited.sa_flags & SA_SIGINFO) && inherited.sa_handler == SIG_IGN) return;
    sigaction(signalNumber, &action, nullptr);
}

}  // namespace

void installTerminationPath() {
    struct sigaction action {};
    action.sa_sigaction = onSignal;
    // One handler at a time, so the request count stays exact.
    sigemptyset(&action.sa_mask);
    for (int s : kStopSignals) sigaddset(&action.sa_mask, s);
    for (int s : kFaultSignals) sigaddset(&action.sa_mask, s);
    // No SA_RESTART: a stop interrupts a blocking call instead of waiting for it.
    action.sa_flags = SA_SIGINFO;
    for (int s : kStopSignals) catchUnlessIgnored(s, action);
    for (int s : kFaultSignals) catchUnlessIgnored(s, action);
    signal(SIGPIPE, SIG_IGN);
}

void setTerminationFlush(std::function<void()> flush) {
    g_flush = std::move(flush);
}

void setTerminationFrameCount(int frameCount) {
    g_frameCount = frameCount;
}

void setTerminationFramesHeld(int framesHeld) {
    g_framesHeld = framesHeld;
}

void beginMovieRewrite() {
    g_rewriting = 1;
}

void endMovieRewrite() {
    g_rewriting = 0;
}

bool terminationRequested() {
    return g_stopRequests != 0;
}

void terminationCheckpoint() {
    if (g_stopRequests != 0) runPath(g_recordedSignal, nullptr);
}

void terminate(int signalNumber, const char* reason) {
    // A request recorded but not yet taken still gets its flush and its own
    // signal in the line; the flush itself runs at most once.
    if (g_stopRequests == 0) {
        g_stopRequests = 1;
        g_recordedSignal = signalNumber;
        requestStop();
    } else {
        reason = nullptr;
    }
    runPath(g_recordedSignal, reason);
}

}  // namespace lumivane
