#include "platform/link/LinkClient.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include "base/StopRequest.h"
#include "base/SystemError.h"
#include "platform/link/PeerCredentials.h"
#include "platform/link/RegistryDirectory.h"

namespace lumivane {
Result<std::shared_ptr<LinkClient>> LinkClient::connect(const std::string& serviceName,
                                                        std::chrono::milliseconds timeout) {
    Result<std::string> path = RegistryDirectory::socketPath(serviceName);
    if (!path) return Error{path.error()};
    struct stat info {};
    if (lstat(RegistryDirectory::path().c_str(), &info) != 0 && errno == ENOENT)
        return errorAt(serviceName, "no render service is registered under this name");
    Result<std::string> directory = RegistryDirectory::verify();
    if (!directory) return Error{directory.error()};

    UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket) return errorAt(serviceName, systemErrorText("cannot create a socket"));
    // A server too busy to take the connection must not hold the caller forever:
    // a Unix socket's connect waits for the listener's backlog within this time.
    timeval limit{static_cast<time_t>(timeout.count() / 1000),
                  static_cast<suseconds_t>((timeout.count() % 1000) * 1000)};
    setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const sockaddr_un address = RegistryDirectory::socketAddress(*path);
    int connected = 0;
    do {
        connected =
            ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (connected != 0 && errno == EINTR && !stopRequested());
    if (connected != 0) {
        if (errno == EAGAIN)
            return errorAt(serviceName, "the render service takes no connections; timed out");
        if (errno == ENOENT || errno == ECONNREFUSED)
            return errorAt(serviceName, "no render service is registered under this name");
        return errorAt(serviceName, systemErrorText("cannot connect"));
    }
    std::optional<ucred> owner = peerCredentials(socket.get());
    if (!owner || owner->uid != geteuid())
        return errorAt(serviceName, "the render service runs as another user; refused");
    return std::shared_ptr<LinkClient>(new LinkClient(serviceName, std::move(socket), timeout));
}

LinkClient::LinkClient(std::string serviceName, UniqueFd socket, std::chrono::milliseconds timeout)
    : m_serviceName(serviceName),
      m_channel(std::move(socket), "to \"" + serviceName + "\""),
      m_timeout(timeout) {}

void LinkClient::fail(const std::string& what) {
    throw LinkError("render link \"" + m_serviceName + "\": " + what);
}

std::string LinkClient::closedText() const {
    return m_channel.closeReason().empty()
               ? "the connection is closed"
               : "the connection is closed (" + m_channel.closeReason() + ")";
}

PlistDict LinkClient::request(const PlistDict& body) {
    std::lock_guard lock(m_mutex);
    if (!m_channel.isOpen()) fail(closedText());
    int64_t id = m_nextId++;
    PlistDict message{{"id", id}};
    for (const auto& [key, value] : body)
        if (key != "id") message.set(key, value);
    Result<void> queued = m_channel.queue(PlistValue(std::move(message)));
    if (!queued) fail(queued.error());
    auto deadline = LinkChannel::Clock::now() + m_timeout;
    if (!m_channel.flushUntil(deadline)) {
        if (m_channel.isOpen())
            m_channel.close(stopRequested() ? "this process is stopping"
                                            : "the request could not be sent in time");
        fail(closedText());
    }
    return awaitReply(id, deadline);
}

PlistDict LinkClient::awaitReply(int64_t id, LinkChannel::Clock::time_point deadline) {
    for (;;) {
        // A reply may arrive together with the end of the connection; it counts.
        bool open = m_channel.receive();
        if (std::optional<PlistValue> message = m_channel.takeMessage()) {
            const PlistDict* reply = message->asDict();
            const PlistValue* replyId = reply ? reply->find("id") : nullptr;
            if (!replyId || replyId->type() != PlistValue::Type::Integer ||
                replyId->longLongValue() != id) {
                m_channel.close("a reply that does not answer request " + std::to_string(id));
                fail(closedText());
            }
            if (const PlistValue* error = reply->find("error"))
                fail(error->isString() ? *error->asString() : "the request failed");
            return *reply;
        }
        if (!open) fail(closedText());
        if (!m_channel.waitReadable(deadline) && m_channel.isOpen()) {
            m_channel.close(stopRequested()
                                ? "this process is stopping"
                                : "no reply within " + std::to_string(m_timeout.count()) + " ms");
            fail(closedText());
        }
    }
}

std::string LinkClient::className() {
    PlistDict reply = request({{"op", "class"}, {"object", "root"}});
    const PlistValue* result = reply.find("result");
    if (!result || !result->isString()) fail("the \"class\" reply holds no class name");
    return *result->asString();
}

std::optional<PlistValue> LinkClient::get(const std::string& key) {
    PlistDict reply = request({{"op", "get"}, {"object", "root"}, {"key", key}});
    const PlistValue* result = reply.find("result");
    if (!result) return std::nullopt;
    return *result;
}

void LinkClient::call(const std::string& object, const std::string& selector,
                      const PlistArray& args) {
    request({{"op", "call"}, {"object", object}, {"selector", selector}, {"args", args}});
}

bool LinkClient::servePending() {
    std::lock_guard lock(m_mutex);
    if (!m_channel.isOpen()) return false;
    bool open = m_channel.receive();
    if (m_channel.takeMessage().has_value()) {
        m_channel.close("a message that answers no request");
        return false;
    }
    return open;
}

}  // namespace lumivane
