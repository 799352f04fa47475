// Documents read whole from outside: only regular files, and only up to a size
// no real document reaches, so that a FIFO, a device or a runaway file can
// neither block a load nor fill memory.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/FileHandles.h"
#include "base/Result.h"

namespace lumivane {

inline std::string sizeText(long long bytes) {
    constexpr long long kMiB = 1024 * 1024;
    if (bytes % (1024 * kMiB) == 0) return std::to_string(bytes / (1024 * kMiB)) + " GiB";
    return std::to_string(bytes / kMiB) + " MiB";
}

// What a path names when it is not a readable regular file, in words.
inline std::string notARegularFile(const struct stat& info) {
    const std::string what = "is not a regular file";
    if (S_ISDIR(info.st_mode)) return what + " but a directory";
    if (S_ISFIFO(info.st_mode)) return what + " but a FIFO";
    if (S_ISSOCK(info.st_mode)) return what + " but a socket";
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return what + " but a device";
    return what;
}

inline std::string openFailure(int error) {
    if (error == ENOENT) return "no such file";
    if (error == ELOOP) return "is a loop of symbolic links";
    return std::string("cannot be opened: ") + std::strerror(error);
}

// An open descriptor of a regular file of at most maxBytes bytes.
inline Result<UniqueFd> openBoundedFile(const std::string& path, long long maxBytes) {
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return errorAt(path, openFailure(errno));
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return errorAt(path, openFailure(errno));
    if (!S_ISREG(info.st_mode)) return errorAt(path, notARegularFile(info));
    if (info.st_size > maxBytes) return errorAt(path, "is larger than " + sizeText(maxBytes));
    return fd;
}

// The whole content of a regular file of at most maxBytes bytes; a file that
// grows past the limit while being read is refused too.
inline Result<std::string> readBoundedFile(const std::string& path, long long maxBytes) {
    auto fd = openBoundedFile(path, maxBytes);
    if (!fd) return Error{fd.error()};
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd->get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return errorAt(path, std::string("cannot be read: ") + std::strerror(errno));
        if (count == 0) return bytes;
        bytes.append(buffer, static_cast<size_t>(count));
        if (static_cast<long long>(bytes.size()) > maxBytes)
            return errorAt(path, "is larger than " + sizeText(maxBytes));
    }
}

}  // namespace lumivane
