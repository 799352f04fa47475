#include "platform/link/LinkServer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include "base/Log.h"
#include "base/SystemError.h"
#include "platform/link/PeerCredentials.h"
#include "platform/link/RegistryDirectory.h"

namespace lumivane {
namespace {

bool bindTo(int fd, const std::string& path) {
    const sockaddr_un address = RegistryDirectory::socketAddress(path);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// True when a server is accepting on the socket at the path.
bool somebodyListens(const std::string& path) {
    UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!probe) return true;  // cannot tell: leave the socket alone
    const sockaddr_un address = RegistryDirectory::socketAddress(path);
    if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    return errno != ECONNREFUSED;
}

// Binds the name, replacing a socket whose server is gone.
Result<void> bindServiceSocket(int fd, const std::string& path) {
    if (bindTo(fd, path)) return {};
    if (errno != EADDRINUSE) return errorAt(path, systemErrorText("cannot register"));
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return errorAt(path, systemErrorText("cannot register"));
    if (!S_ISSOCK(info.st_mode)) return errorAt(path, "exists and is not a socket; refused");
    if (somebodyListens(path)) return errorAt(path, "the name is already registered");
    if (unlink(path.c_str()) != 0 && errno != ENOENT)
        return errorAt(path, systemErrorText("cannot remove a stale registration"));
    if (!bindTo(fd, path)) return errorAt(path, systemErrorText("cannot register"));
    return {};
}

std::string describePeer(int fd) {
    std::optional<ucred> peer = peerCredentials(fd);
    if (!peer) return "(unknown peer)";
    return "(peer pid " + std::to_string(peer->pid) + ", uid " + std::to_string(peer->uid) + ")";
}

bool peerIsSameUser(int fd) {
    std::optional<ucred> peer = peerCredentials(fd);
    return peer && peer->uid == geteuid();
}

const std::string* stringEntry(const PlistDict& dict, std::string_view key) {
    const PlistValue* value = dict.find(key);
    return value ? value->asString() : nullptr;
}

}  // namespace

Result<std::unique_ptr<LinkServer>> LinkServer::create(const std::string& serviceName,
                                                       std::shared_ptr<LinkObject> root) {
    Result<std::string> directory = RegistryDirectory::ensure();
    if (!directory) return Error{directory.error()};
    Result<std::string> path = RegistryDirectory::socketPath(serviceName);
    if (!path) return Error{path.error()};

    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener) return errorAt(*path, systemErrorText("cannot create a socket"));
    Result<void> bound = bindServiceSocket(listener.get(), *path);
    if (!bound) return Error{bound.error()};
    struct stat info {};
    if (::listen(listener.get(), kListenBacklog) != 0 || lstat(path->c_str(), &info) != 0) {
        Error error = errorAt(*path, systemErrorText("cannot listen"));
        unlink(path->c_str());
        return error;
    }
    std::unique_ptr<LinkServer> server(new LinkServer(serviceName, *path, std::move(listener)));
    server->m_socketDevice = info.st_dev;
    server->m_socketInode = info.st_ino;
    server->m_root = std::move(root);
    return server;
}

LinkServer::LinkServer(std::string serviceName, std::string socketPath, UniqueFd listener)
    : m_serviceName(std::move(serviceName)),
      m_socketPath(std::move(socketPath)),
      m_listener(std::move(listener)) {}

LinkServer::~LinkServer() {
    *m_alive = false;
    closeConnections();
    struct stat info {};
    if (lstat(m_socketPath.c_str(), &info) == 0 && info.st_dev == m_socketDevice &&
        info.st_ino == m_socketInode)
        unlink(m_socketPath.c_str());
}

std::vector<pollfd> LinkServer::pollDescriptors() const {
    std::vector<pollfd> descriptors{{m_listener.get(), POLLIN, 0}};
    for (const auto& connection : m_connections) {
        if (!connection->channel.isOpen()) continue;
        // A peer that does not read its replies is not read from either; one
        // with requests read but not yet answered wants the next pass at once.
        const LinkChannel& channel = connection->channel;
        short events = channel.hasPendingOutput() || channel.hasMessages() ? POLLOUT : POLLIN;
        descriptors.push_back({connection->channel.fd(), events, 0});
    }
    return descriptors;
}

std::vector<int> LinkServer::fileDescriptors() const {
    std::vector<int> fds;
    for (const pollfd& descriptor : pollDescriptors()) fds.push_back(descriptor.fd);
    return fds;
}

void LinkServer::closeConnections() {
    for (const auto& connection : m_connections) connection->channel.close("");
    m_connections.clear();
}

void LinkServer::acceptPending() {
    // The rest of a burst waits in the backlog for the next pass.
    for (int accepted = 0; accepted < kListenBacklog; ++accepted) {
        UniqueFd peer(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!peer) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;
        }
        std::string description = describePeer(peer.get());
        if (!peerIsSameUser(peer.get())) {
            nsLog("Render link: refusing a connection to %s from another user %s",
                  m_serviceName.c_str(), description.c_str());
            continue;
        }
        m_connections.push_back(
            std::make_shared<Connection>(Connection{LinkChannel(std::move(peer), description), 1}));
    }
}

size_t LinkServer::servePending() {
    if (m_serving) return 0;
    m_serving = true;
    std::shared_ptr<bool> alive = m_alive;
    size_t answered = 0;
    acceptPending();
    // A copy: a handler may close connections while this pass runs.
    std::vector<std::shared_ptr<Connection>> connections = m_connections;
    for (const auto& connection : connections) {
        if (!serveConnection(connection, answered)) return answered;  // the server is gone
    }
    dropClosedConnections();
    m_serving = false;
    return answered;
}

bool LinkServer::serveConnection(const std::shared_ptr<Connection>& connection, size_t& answered) {
    std::shared_ptr<bool> alive = m_alive;
    LinkChannel& channel = connection->channel;
    if (!channel.flush() || channel.hasPendingOutput()) return true;
    // What a peer sends beyond the requests already read waits in its socket.
    if (!channel.hasMessages()) {
        channel.receive(kBytesPerPass);
        limitPartialMessages();
    }
    for (int taken = 0; taken < kRequestsPerPass && channel.isOpen(); ++taken) {
        std::optional<PlistValue> message = channel.takeMessage();
        if (!message) break;
        bool handled = handleMessage(*connection, *message);
        if (!*alive) return false;
        if (handled) ++answered;
    }
    channel.flush();
    return true;
}

void LinkServer::limitPartialMessages() {
    for (;;) {
        size_t total = 0;
        LinkChannel* largest = nullptr;
        for (const auto& connection : m_connections) {
            // A closed one is dropped at the end of the pass, with its memory.
            if (!connection->channel.isOpen()) continue;
            const size_t held = connection->channel.partialBytes();
            total += held;
            if (held > 0 && (!largest || held > largest->partialBytes()))
                largest = &connection->channel;
        }
        if (total <= kMaxPartialBytes || !largest) return;
        largest->close("holds " + std::to_string(largest->partialBytes() >> 20) +
                       " MiB of an unfinished message while the link's peers hold over " +
                       std::to_string(kMaxPartialBytes >> 20) + " MiB together");
    }
}

void LinkServer::dropClosedConnections() {
    std::erase_if(m_connections, [](const auto& c) { return !c->channel.isOpen(); });
}

bool LinkServer::handleMessage(Connection& connection, const PlistValue& message) {
    const PlistDict* request = message.asDict();
    if (!request) {
        connection.channel.close("a request that is not a dictionary");
        return false;
    }
    const PlistValue* idValue = request->find("id");
    if (!idValue || idValue->type() != PlistValue::Type::Integer) {
        connection.channel.close("a request without an integer \"id\"");
        return false;
    }
    int64_t id = idValue->longLongValue();
    if (id != connection.nextId) {
        reply(connection, PlistDict{{"id", id},
                                    {"error", "request id " + std::to_string(id) +
                                                  " is out of order (expected " +
                                                  std::to_string(connection.nextId) + ")"}});
        connection.channel.flush();
        connection.channel.close("a request out of order");
        return false;
    }
    connection.nextId = id + 1;
    return handleRequest(connection, id, *request);
}

bool LinkServer::handleRequest(Connection& connection, int64_t id, const PlistDict& request) {
    std::shared_ptr<bool> alive = m_alive;
    std::shared_ptr<LinkObject> root = m_root;  // kept while the handler runs
    PlistDict answer{{"id", id}};
    auto fail = [&](const std::string& text) { answer.set("error", text); };
    const std::string* op = stringEntry(request, "op");
    const std::string* object = stringEntry(request, "object");
    try {
        if (!op) {
            fail("a request without an \"op\"");
        } else if (*op == "class" || *op == "get") {
            const std::string* key = stringEntry(request, "key");
            if (!object || *object != "root")
                fail("\"" + *op + "\" serves only the object \"root\"");
            else if (!root)
                fail("no root object is vended");
            else if (*op == "class")
                answer.set("result", root->className());
            else if (!key)
                fail("a \"get\" request without a \"key\"");
            else if (std::optional<PlistValue> value = root->get(*key))
                answer.set("result", std::move(*value));
        } else if (*op == "call") {
            const std::string* selector = stringEntry(request, "selector");
            const PlistValue* args = request.find("args");
            if (!object || !selector)
                fail("a \"call\" request without an \"object\" and a \"selector\"");
            else if (args && !args->isArray())
                fail("\"args\" is not an array");
            else if (!root)
                fail("no root object is vended");
            else
                root->call(*object, *selector, args ? *args->asArray() : PlistArray{});
        } else {
            fail("unknown op \"" + *op + "\"");
        }
    } catch (const std::exception& exception) {
        if (!*alive) return false;
        fail(exception.what());
    } catch (...) {
        if (!*alive) return false;
        fail("the request failed");
    }
    if (!*alive) return false;
    if (connection.channel.isOpen()) reply(connection, std::move(answer));
    return true;
}

void LinkServer::reply(Connection& connection, PlistDict answer) {
    Result<void> queued = connection.channel.queue(PlistValue(answer));
    if (queued) return;
    // The value cannot travel (too large, or not encodable): say so instead.
    PlistDict error{{"id", *answer.find("id")},
                    {"error", "reply cannot be sent: " + queued.error()}};
    if (!connection.channel.queue(PlistValue(error))) connection.channel.close(queued.error());
}

size_t LinkServer::serveFor(std::chrono::milliseconds timeout) {
    size_t answered = 0;
    serveLoop([] { return false; }, timeout, answered);
    return answered;
}

bool LinkServer::serveUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    size_t answered = 0;
    return serveLoop(done, timeout, answered);
}

bool LinkServer::serveLoop(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                           size_t& answered) {
    std::shared_ptr<bool> alive = m_alive;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        answered += servePending();
        if (!*alive) return done();  // destroyed by a request's handler
        if (done()) return true;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        std::vector<pollfd> descriptors = pollDescriptors();
        // Short waits: done() may turn true through something other than this server.
        ::poll(descriptors.data(), descriptors.size(),
               static_cast<int>(std::min<int64_t>(left.count(), 20)));
    }
}

}  // namespace lumivane
