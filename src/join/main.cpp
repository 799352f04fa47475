// LumivaneJoin: puts the chunks of a split render together. Movies are joined
// into one by copying their frames; an image sequence, already one directory,
// is checked for completeness.

#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "base/Log.h"
#include "base/PendingFiles.h"
#include "platform/media/ImageSequenceCheck.h"
#include "platform/media/MediaLog.h"
#include "platform/media/MovieJoiner.h"

namespace {

constexpr int kRefused = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "usage: LumivaneJoin [--verify] -o OUTPUT PIECE...\n"
    "       LumivaneJoin --sequence DIRECTORY COUNT\n"
    "       LumivaneJoin --help\n"
    "\n"
    "  -o OUTPUT PIECE...  join the movies of a split render's chunks, given in any\n"
    "                      order, into OUTPUT, copying their frames. Refuses pieces\n"
    "                      that miss or repeat frames, stopped early, are cut short,\n"
    "                      or come from another render or other settings; OUTPUT is\n"
    "                      then left as it was. QuickTime or MP4 pieces join into\n"
    "                      a .mov or .mp4 OUTPUT, Matroska or WebM ones into a\n"
    "                      .mkv or .webm one; GIF and WebP are not joined.\n"
    "  --verify            also decode every frame of the joined movie before it\n"
    "                      takes OUTPUT's place (costs one decode of the movie).\n"
    "  --sequence DIRECTORY COUNT\n"
    "                      check that DIRECTORY holds frames 1 to COUNT of an image\n"
    "                      sequence, each a file that decodes to the first frame's\n"
    "                      size and channels, none half written, none beyond COUNT,\n"
    "                      all from one render.\n"
    "\n"
    "Exit status: 0 joined or complete, 1 refused or failed, 2 a usage error.\n";

// The output being built is worthless once the process is told to end, and
// on a fault. A signal ignored at start (nohup) stays ignored.
void onSignal(int signalNumber) {
    lumivane::removePendingFiles();
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

void removeOutputOnSignals() {
    for (int signalNumber :
         {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ,
          SIGVTALRM, SIGPROF, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS}) {
        struct sigaction action {};
        if (::sigaction(signalNumber, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) {
            continue;
        }
        action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(signalNumber, &action, nullptr);
    }
}

int usageError(const std::string& what) {
    std::fprintf(stderr, "LumivaneJoin: %s\n%s", what.c_str(), kUsageText);
    return kUsage;
}

int report(const lumivane::Result<void>& outcome) {
    if (outcome) return 0;
    std::fprintf(stderr, "LumivaneJoin: %s\n", outcome.error().c_str());
    return kRefused;
}

int checkSequence(const std::vector<std::string>& arguments) {
    if (arguments.size() != 3) return usageError("--sequence takes DIRECTORY and COUNT");
    const std::string& text = arguments[2];
    int count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (error != std::errc() || end != text.data() + text.size() || count < 1) {
        return usageError("COUNT '" + text + "' is no number of frames");
    }
    return report(lumivane::ImageSequenceCheck::check(arguments[1], count));
}

int joinMovies(const std::vector<std::string>& arguments) {
    const bool verify = arguments[0] == "--verify";
    const size_t o = verify ? 1 : 0;
    if (arguments.size() < o + 3 || arguments[o] != "-o" || arguments[o + 1].empty()) {
        return usageError("-o takes OUTPUT and at least one PIECE");
    }
    const std::vector<std::string> pieces(arguments.begin() + long(o) + 2, arguments.end());
    removeOutputOnSignals();
    return report(lumivane::MovieJoiner::join(pieces, arguments[o + 1], verify));
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    lumivane::setLogProgramName("LumivaneJoin");
    // Each failure comes back with FFmpeg's reason in it: one line says it all.
    lumivane::setMediaLogVerbosity(-1);
    if (arguments.empty()) return usageError("nothing to do");
    if (arguments[0] == "--help") {
        std::fputs(kUsageText, stdout);
        return 0;
    }
    if (arguments[0] == "--sequence") return checkSequence(arguments);
    if (arguments[0] == "-o" || arguments[0] == "--verify") return joinMovies(arguments);
    return usageError("unknown option '" + arguments[0] + "'");
}
