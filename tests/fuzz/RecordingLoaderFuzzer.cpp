// Arbitrary bytes as a recording file: loading must never crash, and what it
// loads must save and load again.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "shared/RecordedEvents.h"

namespace {

std::string& scratchDirectory() {
    static std::string directory;
    return directory;
}

void writeBytes(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) abort();
    if (size && fwrite(data, 1, size, file) != size) abort();
    fclose(file);
}

void removeScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchDirectory(), ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every save syncs to disk; memory-backed storage keeps the runs fast.
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/lumivane-fuzz-XXXXXX"
                                                        : "/tmp/lumivane-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) abort();
    scratchDirectory() = pattern;
    atexit(removeScratchDirectory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using lumivane::RecordedEvents;
    const std::string composition = scratchDirectory() + "/input.qtz";
    writeBytes(RecordedEvents::recordedEventsFileForComposition(composition), data, size);

    double total = -1;
    auto entries = RecordedEvents::recordedEventsArrayForComposition(composition, &total);

    size_t withEvents = 0;
    for (const auto& entry : entries) withEvents += entry.event ? 1 : 0;
    if (!RecordedEvents::saveRecordedEventsArray(entries, total, composition)) abort();
    double again = -1;
    auto reloaded = RecordedEvents::recordedEventsArrayForComposition(composition, &again);
    // Equal time keys may merge, and NaN totals compare unequal; nothing else changes.
    if (reloaded.size() > withEvents) abort();
    if (again != total && total == total) abort();
    return 0;
}
