// The host's monotonic clock: render service names, progress throttling and
// elapsed times all read this one clock.
#pragma once

#include <time.h>

#include <cstdint>

namespace lumivane {

inline uint64_t monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

inline double monotonicSeconds() {
    return static_cast<double>(monotonicNanoseconds()) * 1e-9;
}

}  // namespace lumivane
