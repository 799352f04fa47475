#include "platform/link/LinkChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/Log.h"
#include "base/StopRequest.h"
#include "base/SystemError.h"

namespace lumivane {

LinkChannel::LinkChannel(UniqueFd socket, std::string description)
    : m_socket(std::move(socket)), m_description(std::move(description)) {
    if (m_socket) {
        int flags = fcntl(m_socket.get(), F_GETFL);
        if (flags >= 0) fcntl(m_socket.get(), F_SETFL, flags | O_NONBLOCK);
    }
}

bool LinkChannel::receive(size_t budget) {
    if (!isOpen()) return false;
    uint8_t buffer[65536];
    // A peer that never stops sending gets served in turns, not forever.
    for (;;) {
        if (budget == 0) return true;
        ssize_t count = ::recv(m_socket.get(), buffer, std::min(sizeof buffer, budget), 0);
        if (count > 0) {
            budget -= std::min(budget, static_cast<size_t>(count));
            m_decoder.append(std::span<const uint8_t>(buffer, static_cast<size_t>(count)));
            if (m_decoder.failed()) {
                close(m_decoder.failure());
                return false;
            }
            continue;
        }
        if (count == 0) {
            close(m_decoder.hasPartialMessage() ? "connection ended in the middle of a message"
                                                : "");
            if (m_closeReason.empty()) m_closeReason = "connection closed by the peer";
            return false;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
        close(systemErrorText("read failed"));
        return false;
    }
}

Result<void> LinkChannel::queue(const PlistValue& message) {
    Result<std::vector<uint8_t>> frame = encodeFrame(message);
    if (!frame) return Error{frame.error()};
    if (m_outputOffset == m_output.size()) {
        m_output.clear();
        m_outputOffset = 0;
    }
    m_output.insert(m_output.end(), frame->begin(), frame->end());
    return {};
}

bool LinkChannel::flush() {
    if (!isOpen()) return false;
    while (hasPendingOutput()) {
        // MSG_NOSIGNAL: a vanished peer must surface as an error, not SIGPIPE.
        ssize_t count = ::send(m_socket.get(), m_output.data() + m_outputOffset,
                               m_output.size() - m_outputOffset, MSG_NOSIGNAL);
        if (count > 0) {
            m_outputOffset += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (count < 0 && (errno == EPIPE || errno == ECONNRESET)) {
            close("");
            m_closeReason = "connection closed by the peer";
            return false;
        }
        close(systemErrorText("write failed"));
        return false;
    }
    m_output.clear();
    m_outputOffset = 0;
    return true;
}

bool LinkChannel::flushUntil(Clock::time_point deadline) {
    while (flush()) {
        if (!hasPendingOutput()) return true;
        if (!waitFor(POLLOUT, deadline)) return false;
    }
    return false;
}

bool LinkChannel::waitReadable(Clock::time_point deadline) {
    return waitFor(POLLIN, deadline);
}

bool LinkChannel::waitFor(short events, Clock::time_point deadline) {
    while (isOpen()) {
        // A process asked to stop does not sit out a silent peer's timeout.
        if (stopRequested()) return false;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd entry{m_socket.get(), events, 0};
        int slice = static_cast<int>(std::min<int64_t>(left.count(), kStopPollMilliseconds));
        int ready = ::poll(&entry, 1, slice);
        if (ready > 0) return true;  // errors and hang-ups show on the next read or write
        if (ready < 0 && errno != EINTR) return false;
    }
    return false;
}

void LinkChannel::close(const std::string& reason) {
    if (!isOpen()) return;
    m_socket.reset();
    m_closeReason = reason;
    if (!reason.empty())
        nsLog("Render link: closing the connection %s: %s", m_description.c_str(), reason.c_str());
}

}  // namespace lumivane
