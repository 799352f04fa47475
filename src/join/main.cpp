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
    "usage: LumivaneJoin -o OUTPUT PIECE...\n"
    "       LumivaneJoin --sequence DIRECTORY COUNT\n"
    "       LumivaneJoin --help\n"
    "\n"
    "  -o OUTPUT PIECE...  join the movies of a split render's chunks, given in any\n"
    "                      order, into OUTPUT, copying their frames. Refuses pieces\n"
    "                      that miss or repeat frames, stopped early or were written\n"
    "                      with other settings; OUTPUT is then left as it was.\n"
    "  --sequence DIRECTORY COUNT\n"
    "                      check that DIRECTORY holds frames 1 to COUNT of an image\n"
    "                      sequence, none half written and none beyond COUNT.\n"
    "\n"
    "Exit status: 0 joined or complete, 1 refused or failed, 2 a usage error.\n";

// The output being built is worthless once the process is told to end.
void onSignal(int signalNumber) {
    lumivane::removePendingFiles();
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

void removeOutputOnSignals() {
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) ::signal(signalNumber, onSignal);
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
    if (arguments.size() < 3 || arguments[1].empty()) {
        return usageError("-o takes OUTPUT and at least one PIECE");
    }
    const std::vector<std::string> pieces(arguments.begin() + 2, arguments.end());
    removeOutputOnSignals();
    return report(lumivane::MovieJoiner::join(pieces, arguments[1]));
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
    if (arguments[0] == "-o") return joinMovies(arguments);
    return usageError("unknown option '" + arguments[0] + "'");
}
