#include "cli/TerminationPath.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <cstdio>

namespace lumivane {
namespace {

constexpr std::array<int, 7> kTerminationSignals = {SIGINT, SIGTERM, SIGSEGV, SIGBUS,
                                                    SIGFPE, SIGILL,  SIGTRAP};

volatile sig_atomic_t g_terminationFlag = 0;
volatile sig_atomic_t g_recordedSignal = 0;
std::function<void()> g_flush;

bool isTerminationSignal(int signalNumber) {
    for (int s : kTerminationSignals)
        if (s == signalNumber) return true;
    return false;
}

void onSignal(int signalNumber) {
    if (g_terminationFlag) _exit(0);
    g_terminationFlag = 1;
    g_recordedSignal = signalNumber;
    // A fault cannot be resumed: returning would fault again and land in the
    // branch above, which exits without touching the half-written state.
}

[[noreturn]] void runPath(int signalNumber) {
    if (isTerminationSignal(signalNumber) && g_flush) {
        auto flush = std::move(g_flush);
        g_flush = nullptr;
        flush();
    }
    fflush(nullptr);
    _exit(0);
}

}  // namespace

void installTerminationPath() {
    for (int signalNumber : kTerminationSignals) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(signalNumber, &action, nullptr);
    }
}

void setTerminationFlush(std::function<void()> flush) {
    g_flush = std::move(flush);
}

bool terminationRequested() {
    return g_terminationFlag != 0;
}

void terminationCheckpoint() {
    if (g_terminationFlag) runPath(g_recordedSignal);
}

void terminate(int signalNumber) {
    // A signal recorded but not yet taken still gets its flush; the flush
    // itself runs at most once.
    if (!g_terminationFlag) {
        g_terminationFlag = 1;
        g_recordedSignal = signalNumber;
    }
    runPath(g_recordedSignal);
}

}  // namespace lumivane
