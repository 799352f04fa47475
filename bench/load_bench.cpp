// Time and peak memory of loading a recording, per event, as recordings grow:
// loading must stay linear, so the time per event holds still from 10^4 to
// 10^6 events. Each size is written by one child process and loaded by
// another, so that one size's memory does not count towards the next.
//
//   load_bench [--counts 10000,100000,1000000] [--folder DIR]
//
// Prints, per count: file size, save time, load time and the loading
// process's peak resident memory, each also per event.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "BenchOptions.h"
#include "platform/events/OBEvent.h"
#include "shared/RecordedEvents.h"

namespace lumivane {
namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Mouse moves, clicks and key presses in turn, a hundredth of a second apart.
std::vector<RecordedEventEntry> eventsOf(long count) {
    std::vector<RecordedEventEntry> entries;
    entries.reserve(size_t(count));
    for (long i = 0; i < count; ++i) {
        const Point at{float(i % 640), float(i % 480)};
        std::shared_ptr<const Event> event;
        if (i % 3 == 0)
            event = OBEvent::mouseEventWithType(NSMouseMoved, at, 0, 0, 0, int(i), 0, 0);
        else if (i % 3 == 1)
            event = OBEvent::mouseEventWithType(NSLeftMouseDown, at, 0, 0, 0, int(i), 1, 1);
        else
            event = OBEvent::keyEventWithType(NSKeyDown, at, 0, 0, 0, "a", "a", false, 0);
        entries.push_back({std::move(event), at, double(i) * 0.01});
    }
    return entries;
}

// Runs `work` in a child that writes one line of numbers back.
std::string inChild(const std::function<std::string()>& work) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        const std::string line = work();
        (void)!write(pipeEnds[1], line.data(), line.size());
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string line;
    char buffer[256];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) line.append(buffer, n);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return line;
}

void measure(long count, const std::string& composition) {
    const std::string saved = inChild([&] {
        const auto entries = eventsOf(count);
        const auto start = std::chrono::steady_clock::now();
        const bool ok =
            RecordedEvents::saveRecordedEventsArray(entries, count * 0.01, composition).ok();
        return ok ? std::to_string(secondsSince(start)) : std::string("failed");
    });
    const std::string loaded = inChild([&] {
        const long before = peakKilobytes();
        const auto start = std::chrono::steady_clock::now();
        double total = 0;
        const auto entries = RecordedEvents::recordedEventsArrayForComposition(composition, &total);
        const double seconds = secondsSince(start);
        std::ostringstream line;
        line << entries.size() << " " << seconds << " " << peakKilobytes() - before << " "
             << peakKilobytes();
        return line.str();
    });
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(
        RecordedEvents::recordedEventsFileForComposition(composition), ec);
    std::istringstream in(loaded);
    size_t events = 0;
    double seconds = 0;
    long grownKb = 0, peakKb = 0;
    in >> events >> seconds >> grownKb >> peakKb;
    std::printf(
        "%8ld events: file %7.1f MiB, save %s s, load %.3f s (%.2f us/event), "
        "%zu loaded, peak %.1f MiB (+%.1f MiB, %.0f bytes/event)\n",
        count, double(bytes) / (1 << 20), saved.c_str(), seconds, seconds * 1e6 / count, events,
        peakKb / 1024.0, grownKb / 1024.0, grownKb * 1024.0 / count);
    std::fflush(stdout);
}

}  // namespace
}  // namespace lumivane

int main(int argc, char** argv) {
    using namespace lumivane;
    bench::BenchOptions options(argc, argv, {"--counts", "--folder"},
                                "[--counts 10000,100000,1000000] [--folder DIR]");
    const std::string folder =
        options.text("--folder", std::filesystem::temp_directory_path().string());
    const std::string composition = folder + "/load_bench.qtz";
    std::stringstream counts(options.text("--counts", "10000,100000,1000000"));
    for (std::string count; std::getline(counts, count, ',');)
        measure(std::stol(count), composition);
    std::error_code ec;
    std::filesystem::remove(RecordedEvents::recordedEventsFileForComposition(composition), ec);
    return 0;
}
