// Owners of files at the system-call level: a descriptor that closes itself,
// and a temporary file that goes away unless it was moved into place.
#pragma once

#include <stdio.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "base/PendingFiles.h"

namespace lumivane {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    void reset(int fd = -1) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }
    int release() { return std::exchange(m_fd, -1); }
    // Closes now, reporting the result: a failed close can mean lost data.
    bool close() {
        const int fd = release();
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd = -1;
};

// Removed when it goes out of scope unless renameTo() moved it into place or
// keep() said it stays. Until then it is a pending file, so a process that
// must exit from a signal handler removes it too.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path)
        : m_path(std::move(path)), m_slot(registerPendingFile(m_path.c_str())) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!m_kept) ::unlink(m_path.c_str());
        unregisterPendingFile(m_slot);
    }

    const std::string& path() const { return m_path; }
    void keep() {
        m_kept = true;
        unregisterPendingFile(std::exchange(m_slot, -1));
    }
    // Replaces `path` with this file; false, and the file still temporary,
    // when the rename fails.
    bool renameTo(const std::string& path) {
        if (::rename(m_path.c_str(), path.c_str()) != 0) return false;
        keep();
        return true;
    }

private:
    std::string m_path;
    PendingSlot m_slot;
    bool m_kept = false;
};

}  // namespace lumivane
