#include "platform/link/FrameDecoder.h"

#include <algorithm>

namespace lumivane {
namespace {

// What a connection keeps between messages.
constexpr size_t kKeptCapacity = size_t{1} << 20;

uint32_t readLength(const uint8_t* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           uint32_t{bytes[3]};
}

}  // namespace

Result<std::vector<uint8_t>> encodeFrame(const PlistValue& message) {
    std::optional<std::vector<uint8_t>> body = binaryPropertyList(message);
    if (!body) return Error{"message cannot be encoded as a property list"};
    if (body->size() > kMaxLinkMessageSize)
        return Error{"message of " + std::to_string(body->size()) + " bytes is over 64 MiB"};
    // libplist writes text that is not UTF-8 as lists it then cannot read; a
    // frame the other end would refuse is not sent.
    if (!parsePropertyList(std::span<const uint8_t>(*body)))
        return Error{"message does not read back once encoded (text that is not UTF-8?)"};
    auto length = static_cast<uint32_t>(body->size());
    std::vector<uint8_t> frame{static_cast<uint8_t>(length >> 24),
                               static_cast<uint8_t>(length >> 16),
                               static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    frame.insert(frame.end(), body->begin(), body->end());
    return frame;
}

void FrameDecoder::append(std::span<const uint8_t> bytes) {
    if (failed()) return;
    const size_t needed = m_buffer.size() + bytes.size();
    if (needed > m_buffer.capacity()) {
        // Doubling, but never past the message under way: the room held
        // stays within what its peer announced and has begun to send.
        size_t room = std::max(needed, 2 * m_buffer.capacity());
        if (m_buffer.size() >= 4)
            room = std::min(room, std::max(needed, 4 + size_t{readLength(m_buffer.data())}));
        m_buffer.reserve(room);
    }
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
    decodeComplete();
}

void FrameDecoder::decodeComplete() {
    size_t offset = 0;
    while (!failed() && m_buffer.size() - offset >= 4) {
        uint32_t length = readLength(m_buffer.data() + offset);
        if (length > kMaxLinkMessageSize) {
            m_failure = "message of " + std::to_string(length) + " bytes is over 64 MiB";
            break;
        }
        if (m_buffer.size() - offset - 4 < length) break;
        std::span<const uint8_t> body(m_buffer.data() + offset + 4, length);
        std::optional<PlistValue> message;
        if (isBinaryPropertyList(body)) message = parsePropertyList(body);
        if (!message) {
            m_failure =
                "message of " + std::to_string(length) + " bytes is not a binary property list";
            break;
        }
        m_messages.push_back(std::move(*message));
        offset += 4 + length;
    }
    if (failed()) {
        m_buffer.clear();
        m_buffer.shrink_to_fit();
        return;
    }
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<ptrdiff_t>(offset));
    if (m_buffer.size() < 4 && m_buffer.capacity() > kKeptCapacity) {
        // A large message is done; its room goes back.
        std::vector<uint8_t> small(m_buffer.begin(), m_buffer.end());
        m_buffer.swap(small);
    }
}

std::optional<PlistValue> FrameDecoder::take() {
    if (m_messages.empty()) return std::nullopt;
    PlistValue message = std::move(m_messages.front());
    m_messages.pop_front();
    return message;
}

}  // namespace lumivane
