// Framing of the render link: every message is one binary property list,
// preceded by its length as 4 bytes, big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/PlistValue.h"
#include "base/Result.h"

namespace lumivane {

inline constexpr size_t kMaxLinkMessageSize = size_t{64} << 20;

// The frame of one message; an Error when the value cannot be encoded or is
// over kMaxLinkMessageSize.
Result<std::vector<uint8_t>> encodeFrame(const PlistValue& message);

// Cuts a byte stream into messages. After the first fault (an oversized length,
// bytes that are not a binary property list) it takes nothing more: the
// connection is to be closed.
class FrameDecoder {
public:
    // Takes the bytes and decodes every message they complete.
    void append(std::span<const uint8_t> bytes);

    // The oldest decoded message not yet taken.
    std::optional<PlistValue> take();

    bool failed() const { return m_failure.has_value(); }
    const std::string& failure() const { return *m_failure; }
    // Bytes of a message begun but not finished.
    bool hasPartialMessage() const { return !m_buffer.empty(); }
    // Memory held for it.
    size_t partialBytes() const { return m_buffer.empty() ? 0 : m_buffer.capacity(); }
    // Decoded messages not yet taken.
    bool hasMessages() const { return !m_messages.empty(); }

private:
    void decodeComplete();

    std::vector<uint8_t> m_buffer;
    std::deque<PlistValue> m_messages;
    std::optional<std::string> m_failure;
};

}  // namespace lumivane
