// Files being built that are worthless if the process dies before they are
// moved into place: a rewrite's temporary movie, an image's partial file.
// A signal handler that must end the process at once removes them with
// removePendingFiles(), which only reads fixed buffers and calls unlink.
#pragma once

namespace lumivane {

// A registered file; -1 when it is not registered (no free slot, or a path
// too long to hold), in which case the file is simply not removed on a signal.
using PendingSlot = int;

// Thread-safe; never allocates.
PendingSlot registerPendingFile(const char* path) noexcept;
// Forgets the file (it was moved into place, kept or removed). Slot -1 is a no-op.
void unregisterPendingFile(PendingSlot slot) noexcept;
// Unlinks every registered file. Async-signal-safe; for a process about to
// _exit, so the slots it empties stay taken until their owners let go.
void removePendingFiles() noexcept;

}  // namespace lumivane
