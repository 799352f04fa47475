#include "platform/link/RenderServiceName.h"

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "base/MonotonicClock.h"

namespace lumivane {
namespace {

uint64_t nextClockValue() {
    static std::atomic<uint64_t> last{0};
    uint64_t now = monotonicNanoseconds();
    uint64_t previous = last.load();
    uint64_t chosen = 0;
    do {
        chosen = now > previous ? now : previous + 1;
    } while (!last.compare_exchange_weak(previous, chosen));
    return chosen;
}

}  // namespace

std::string makeRenderServiceName() {
    char name[64];
    snprintf(name, sizeof name, "net.orbek.Lumivane.%x.%llx", static_cast<unsigned>(getpid()),
             static_cast<unsigned long long>(nextClockValue()));
    return name;
}

}  // namespace lumivane
