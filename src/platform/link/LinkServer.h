// The application's end of the render link: a render service registered by
// name in the registry directory, vending one root object to peers of the same
// user. Single-threaded and driven by whatever event loop owns it: watch
// pollDescriptors() and call servePending() when any of them is ready.
//
// Each pass does bounded work per peer (a few requests, at most 1 MiB read),
// so a peer that floods the link cannot hold up another or new connections;
// a connection with requests still waiting asks for POLLOUT, which is ready at
// once, so the owner's loop comes back to it after its other events. Memory
// held for unfinished messages is capped across all peers.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/FileHandles.h"
#include "base/Result.h"
#include "platform/link/LinkChannel.h"
#include "platform/link/LinkObject.h"

namespace lumivane {

class LinkServer {
public:
    // Registers the name as a socket in the registry directory (created as
    // needed). A socket left behind by a server that is gone is replaced; a
    // name somebody still listens on is refused.
    static Result<std::unique_ptr<LinkServer>> create(const std::string& serviceName,
                                                      std::shared_ptr<LinkObject> root = nullptr);

    // Closes every connection and unregisters the name (its socket is removed
    // only while it is still this server's).
    ~LinkServer();
    LinkServer(const LinkServer&) = delete;
    LinkServer& operator=(const LinkServer&) = delete;

    const std::string& serviceName() const { return m_serviceName; }
    const std::string& socketPath() const { return m_socketPath; }

    void setRootObject(std::shared_ptr<LinkObject> root) { m_root = std::move(root); }
    const std::shared_ptr<LinkObject>& rootObject() const { return m_root; }

    // The listening socket and every connection, with the events to watch.
    std::vector<pollfd> pollDescriptors() const;
    std::vector<int> fileDescriptors() const;

    // Accepts waiting peers, reads and answers a few complete requests of
    // each, writes what it can, and returns without blocking. Returns the
    // number of requests answered. A call from inside a request's handling
    // does nothing.
    size_t servePending();
    // Serves for the given time, waiting on the descriptors in between.
    size_t serveFor(std::chrono::milliseconds timeout);
    // Serves until done() holds (checked after every pass) or the time is up;
    // returns done().
    bool serveUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    size_t connectionCount() const { return m_connections.size(); }
    void closeConnections();

    // Connections waiting to be accepted.
    static constexpr int kListenBacklog = 256;
    // Requests of one peer answered per pass.
    static constexpr int kRequestsPerPass = 4;
    // Bytes read from one peer per pass.
    static constexpr size_t kBytesPerPass = size_t{1} << 20;
    // Memory for unfinished messages, all peers together. Beyond it the peer
    // holding the most (the oldest among equals) is disconnected, with a log line.
    static constexpr size_t kMaxPartialBytes = size_t{256} << 20;

private:
    struct Connection {
        LinkChannel channel;
        int64_t nextId = 1;
    };

    LinkServer(std::string serviceName, std::string socketPath, UniqueFd listener);

    bool serveLoop(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                   size_t& answered);
    void acceptPending();
    // False when the server was destroyed while a request was being handled.
    bool serveConnection(const std::shared_ptr<Connection>& connection, size_t& answered);
    bool handleMessage(Connection& connection, const PlistValue& message);
    bool handleRequest(Connection& connection, int64_t id, const PlistDict& request);
    void reply(Connection& connection, PlistDict reply);
    void dropClosedConnections();
    void limitPartialMessages();

    std::string m_serviceName;
    std::string m_socketPath;
    UniqueFd m_listener;
    dev_t m_socketDevice = 0;
    ino_t m_socketInode = 0;
    std::shared_ptr<LinkObject> m_root;
    std::vector<std::shared_ptr<Connection>> m_connections;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    bool m_serving = false;
};

}  // namespace lumivane
