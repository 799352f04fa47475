// One end of a render-link connection: a non-blocking stream socket with the
// link's framing on both directions.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "base/FileHandles.h"
#include "base/PlistValue.h"
#include "base/Result.h"
#include "platform/link/FrameDecoder.h"

namespace lumivane {

class LinkChannel {
public:
    using Clock = std::chrono::steady_clock;

    // Takes the socket and makes it non-blocking. The description names the
    // peer in log lines.
    LinkChannel(UniqueFd socket, std::string description);

    int fd() const { return m_socket.get(); }
    bool isOpen() const { return static_cast<bool>(m_socket); }
    const std::string& description() const { return m_description; }

    // Reads what is available, up to `budget` bytes, without blocking and
    // decodes it. False once the connection has ended: closed by the peer,
    // broken, or closed here after a bad message (with a log line).
    bool receive(size_t budget = size_t{16} << 20);
    std::optional<PlistValue> takeMessage() { return m_decoder.take(); }
    bool hasMessages() const { return m_decoder.hasMessages(); }
    // Bytes held of a message not yet complete.
    size_t partialBytes() const { return m_decoder.partialBytes(); }

    // Frames the message and adds it to what is waiting to be sent.
    Result<void> queue(const PlistValue& message);
    // Writes what it can without blocking; false once the connection broke.
    bool flush();
    bool hasPendingOutput() const { return m_outputOffset < m_output.size(); }

    // Blocking forms for the caller who waits: false on a closed connection or
    // at the deadline (the channel stays open then).
    bool flushUntil(Clock::time_point deadline);
    bool waitReadable(Clock::time_point deadline);

    // Closes the socket; a non-empty reason goes to the log.
    void close(const std::string& reason);
    // Why the channel closed ("closed by the peer" when it simply ended).
    const std::string& closeReason() const { return m_closeReason; }

private:
    bool waitFor(short events, Clock::time_point deadline);

    UniqueFd m_socket;
    std::string m_description;
    FrameDecoder m_decoder;
    std::vector<uint8_t> m_output;
    size_t m_outputOffset = 0;
    std::string m_closeReason;
};

}  // namespace lumivane
