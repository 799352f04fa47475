#include "platform/media/ContentDigest.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <new>
#include <vector>

#include "base/FileHandles.h"
#include "base/SystemError.h"

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

namespace lumivane {

void ContentDigest::Free::operator()(AVSHA* sha) const {
    av_free(sha);
}

ContentDigest::ContentDigest() : m_sha(av_sha_alloc()) {
    if (!m_sha) throw std::bad_alloc();
    av_sha_init(m_sha.get(), 256);
}

ContentDigest::~ContentDigest() = default;

void ContentDigest::add(std::string_view bytes) {
    av_sha_update(m_sha.get(), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

Result<void> ContentDigest::addFile(const std::string& path) {
    // Not blocking, and only a regular file: a FIFO would never end.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat file {};
    if (!fd || ::fstat(fd.get(), &file) != 0)
        return errorAt(path, systemErrorText("cannot be read"));
    if (!S_ISREG(file.st_mode)) return errorAt(path, "is no regular file");
    std::vector<char> buffer(size_t(1) << 20);
    for (off_t offset = 0;;) {
        const ssize_t got = ::pread(fd.get(), buffer.data(), buffer.size(), offset);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return errorAt(path, systemErrorText("cannot be read"));
        if (got == 0) return {};
        add(std::string_view(buffer.data(), size_t(got)));
        offset += got;
    }
}

std::string ContentDigest::text() {
    uint8_t digest[32];
    av_sha_final(m_sha.get(), digest);
    std::string hex;
    for (int i = 0; i < 16; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

std::string ContentDigest::ofBytes(std::string_view bytes) {
    ContentDigest digest;
    digest.add(bytes);
    return digest.text();
}

Result<std::string> ContentDigest::ofFile(const std::string& path) {
    ContentDigest digest;
    if (auto read = digest.addFile(path); !read) return Error{read.error()};
    return digest.text();
}

}  // namespace lumivane
