#include "base/StopRequest.h"

#include <atomic>

namespace lumivane {
namespace {
// Lock-free, so a signal handler may set it; other threads read it too.
std::atomic<bool> g_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
}  // namespace

void requestStop() noexcept {
    g_stopRequested.store(true, std::memory_order_relaxed);
}

bool stopRequested() noexcept {
    return g_stopRequested.load(std::memory_order_relaxed);
}

}  // namespace lumivane
