// SHA-256 of bytes and files, as short hexadecimal text: enough to tell two
// inputs of a render apart, which is all a chunk's origin needs.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/Result.h"

struct AVSHA;

namespace lumivane {

class ContentDigest {
public:
    ContentDigest();
    ~ContentDigest();
    ContentDigest(const ContentDigest&) = delete;
    ContentDigest& operator=(const ContentDigest&) = delete;

    void add(std::string_view bytes);
    // Adds the file's bytes; fails naming it when it cannot be read.
    Result<void> addFile(const std::string& path);
    // The first 128 bits, as 32 hexadecimal digits; the digest is done then.
    std::string text();

    static std::string ofBytes(std::string_view bytes);
    static Result<std::string> ofFile(const std::string& path);

private:
    struct Free {
        void operator()(AVSHA* sha) const;
    };
    std::unique_ptr<AVSHA, Free> m_sha;
};

}  // namespace lumivane
