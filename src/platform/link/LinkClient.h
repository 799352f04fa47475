// The renderer's end of the render link: one connection to a registered
// render service. Every request waits for its reply; an error reply, a closed
// connection or no reply in time throws LinkError.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/PlistValue.h"
#include "base/Result.h"
#include "platform/link/LinkChannel.h"
#include "platform/link/LinkError.h"

namespace lumivane {

class LinkClient {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{30000};

    // Connects to the service registered under the name. An Error when nobody
    // is registered there, when the registry directory is unsafe, or when the
    // server runs as another user.
    static Result<std::shared_ptr<LinkClient>> connect(
        const std::string& serviceName, std::chrono::milliseconds timeout = kDefaultTimeout);

    LinkClient(const LinkClient&) = delete;
    LinkClient& operator=(const LinkClient&) = delete;

    const std::string& serviceName() const { return m_serviceName; }
    std::chrono::milliseconds timeout() const { return m_timeout; }
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

    // Sends the request with the next id (counted from 1) added and returns
    // the reply. A timeout closes the connection: a late reply could not be
    // told from the next one.
    PlistDict request(const PlistDict& request);

    // {"op": "class", "object": "root"} -> the "result" text.
    std::string className();
    // {"op": "get", "object": "root", "key": key}; nullopt when the reply
    // holds no "result" (the value is absent).
    std::optional<PlistValue> get(const std::string& key);
    // {"op": "call", "object": object, "selector": selector, "args": args}.
    void call(const std::string& object, const std::string& selector, const PlistArray& args = {});

    // The poll after every frame: takes what has arrived without blocking.
    // Only replies ever come, and only while a request waits, so anything
    // found here is a fault that closes the connection. False once closed.
    bool servePending();

    bool isConnected() const { return m_channel.isOpen(); }
    int fileDescriptor() const { return m_channel.fd(); }
    void close() { m_channel.close(""); }

private:
    LinkClient(std::string serviceName, UniqueFd socket, std::chrono::milliseconds timeout);

    PlistDict awaitReply(int64_t id, LinkChannel::Clock::time_point deadline);
    [[noreturn]] void fail(const std::string& what);
    std::string closedText() const;

    std::string m_serviceName;
    LinkChannel m_channel;
    std::chrono::milliseconds m_timeout;
    int64_t m_nextId = 1;
    std::mutex m_mutex;
};

}  // namespace lumivane
