#include "base/PendingFiles.h"

#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace lumivane {
namespace {

// A slot's life: free -> filling (the owner copies the path in) -> pending ->
// free again when the owner lets go. A signal handler takes a pending slot to
// removing and then removed, so the path cannot change under its unlink; the
// owner frees a removed slot.
enum State : int { kFree, kFilling, kPending, kRemoving, kRemoved };

struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};

static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need lock-free atomics");

constexpr int kSlots = 8;
Slot g_slots[kSlots];

}  // namespace

PendingSlot registerPendingFile(const char* path) noexcept {
    const size_t length = std::strlen(path);
    if (length == 0 || length >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(g_slots[i].path, path, length + 1);
        g_slots[i].state.store(kPending, std::memory_order_release);
        return i;
    }
    return -1;
}

void unregisterPendingFile(PendingSlot slot) noexcept {
    if (slot < 0 || slot >= kSlots) return;
    std::atomic<int>& state = g_slots[slot].state;
    while (true) {
        int expected = kPending;
        if (state.compare_exchange_strong(expected, kFree)) return;
        expected = kRemoved;
        if (state.compare_exchange_strong(expected, kFree)) return;
        // A handler on another thread is unlinking it; that takes one call.
        std::this_thread::yield();
    }
}

void removePendingFiles() noexcept {
    for (Slot& slot : g_slots) {
        int expected = kPending;
        if (!slot.state.compare_exchange_strong(expected, kRemoving, std::memory_order_acquire)) {
            continue;
        }
        ::unlink(slot.path);
        slot.state.store(kRemoved, std::memory_order_release);
    }
}

}  // namespace lumivane
