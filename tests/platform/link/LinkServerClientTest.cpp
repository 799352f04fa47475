#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <map>
#include <random>

#include "LinkTestSupport.h"
#include "platform/link/LinkClient.h"
#include "platform/link/LinkServer.h"
#include "platform/link/RenderServiceName.h"

namespace lumivane {
namespace {

using test::bindRaw;
using test::connectRaw;
using test::frameOf;
using test::readMessage;
using test::RegistryTest;
using test::sendBytes;
using test::ServerThread;

struct Call {
    std::string object, selector;
    PlistArray args;
};

// A root object with a few properties, and calls it keeps in arrival order.
class TestRoot : public LinkObject {
public:
    std::string className() const override { return "TestRoot"; }
    std::optional<PlistValue> get(const std::string& key) override {
        if (key == "title") return PlistValue("Soft rings");
        if (key == "rate") return PlistValue(29.97);
        if (key == "nested")
            return PlistValue(PlistDict{{"speed", "1.5"}, {"list", PlistArray{1, 2}}});
        if (key == "absent") return std::nullopt;
        if (key == "huge")
            return PlistValue(PlistData{std::vector<uint8_t>(kMaxLinkMessageSize + 1)});
        throw std::runtime_error("no property \"" + key + "\"");
    }
    void call(const std::string& object, const std::string& selector,
              const PlistArray& args) override {
        if (selector == "fail:") throw std::runtime_error("refused by the handler");
        std::lock_guard lock(m_mutex);
        m_calls.push_back({object, selector, args});
        ++m_counts[selector];
    }
    std::vector<Call> calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    size_t count(const std::string& selector) {
        std::lock_guard lock(m_mutex);
        return m_counts[selector];
    }

private:
    std::mutex m_mutex;
    std::vector<Call> m_calls;
    std::map<std::string, size_t> m_counts;
};

class LinkTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        m_name = makeRenderServiceName();
        m_root = std::make_shared<TestRoot>();
        Result<std::unique_ptr<LinkServer>> server = LinkServer::create(m_name, m_root);
        ASSERT_TRUE(server.ok()) << server.error();
        m_socketPath = server.value()->socketPath();
        m_server = std::make_unique<ServerThread>(std::move(server.value()));
    }
    void TearDown() override {
        m_server.reset();
        RegistryTest::TearDown();
    }
    std::shared_ptr<LinkClient> connect(
        std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        Result<std::shared_ptr<LinkClient>> client = LinkClient::connect(m_name, timeout);
        EXPECT_TRUE(client.ok()) << client.error();
        return client ? client.value() : nullptr;
    }
    // A raw connection that has sent the given bytes; true when the server
    // then closed it without a reply.
    bool closedAfter(const std::vector<uint8_t>& bytes, bool closeWriting = false) {
        UniqueFd raw = connectRaw(m_name);
        EXPECT_TRUE(raw);
        sendBytes(raw.get(), bytes);
        if (closeWriting) shutdown(raw.get(), SHUT_WR);
        bool closed = false;
        std::optional<PlistValue> reply = readMessage(raw.get(), &closed);
        return !reply && closed;
    }

    std::string m_name;
    std::string m_socketPath;
    std::shared_ptr<TestRoot> m_root;
    std::unique_ptr<ServerThread> m_server;
};

TEST_F(LinkTest, EveryRequestKindRoundTrips) {
    auto client = connect();
    ASSERT_TRUE(client);
    EXPECT_EQ(client->className(), "TestRoot");
    EXPECT_EQ(client->get("title"), PlistValue("Soft rings"));
    EXPECT_EQ(client->get("rate"), PlistValue(29.97));
    EXPECT_EQ(client->get("nested"),
              PlistValue(PlistDict{{"speed", "1.5"}, {"list", PlistArray{1, 2}}}));
    EXPECT_EQ(client->get("absent"), std::nullopt);
    client->call("appController", "indicateFrame:of:", {4, 30});
    client->call("appController", "enableControls");
    std::vector<Call> calls = m_root->calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].object, "appController");
    EXPECT_EQ(calls[0].selector, "indicateFrame:of:");
    EXPECT_EQ(calls[0].args, (PlistArray{4, 30}));
    EXPECT_EQ(calls[1].selector, "enableControls");
    EXPECT_TRUE(calls[1].args.empty());
    EXPECT_TRUE(client->servePending());
}

TEST_F(LinkTest, RepliesCarryTheRequestIdCountedFromOne) {
    UniqueFd raw = connectRaw(m_name);
    for (int64_t id = 1; id <= 3; ++id) {
        sendBytes(raw.get(), frameOf(PlistDict{{"id", id}, {"op", "class"}, {"object", "root"}}));
        std::optional<PlistValue> reply = readMessage(raw.get());
        ASSERT_TRUE(reply);
        EXPECT_EQ(*reply, PlistValue(PlistDict{{"id", id}, {"result", "TestRoot"}}));
    }
}

TEST_F(LinkTest, ErrorRepliesThrowAndLeaveTheConnectionUsable) {
    auto client = connect();
    ASSERT_TRUE(client);
    try {
        client->get("nonesuch");
        FAIL() << "no error";
    } catch (const LinkError& error) {
        EXPECT_NE(std::string(error.what()).find("no property \"nonesuch\""), std::string::npos);
    }
    EXPECT_THROW(client->call("appController", "fail:", {}), LinkError);
    EXPECT_THROW(client->request({{"op", "launch"}}), LinkError);
    EXPECT_THROW(client->request({{"op", "get"}, {"object", "root"}}), LinkError);
    EXPECT_THROW(client->request({{"op", "get"}, {"object", "appController"}, {"key", "title"}}),
                 LinkError);
    EXPECT_THROW(client->request({{"object", "root"}}), LinkError);
    EXPECT_THROW(client->request({{"op", "call"}, {"object", "x"}, {"selector", "y"}, {"args", 5}}),
                 LinkError);
    EXPECT_EQ(client->className(), "TestRoot");
    EXPECT_TRUE(client->isConnected());
}

TEST_F(LinkTest, ValueTooLargeToSendBecomesAnErrorReply) {
    auto client = connect();
    ASSERT_TRUE(client);
    try {
        client->get("huge");
        FAIL() << "no error";
    } catch (const LinkError& error) {
        EXPECT_NE(std::string(error.what()).find("64 MiB"), std::string::npos) << error.what();
    }
    EXPECT_EQ(client->get("title"), PlistValue("Soft rings"));
}

TEST_F(LinkTest, NoReplyInTimeThrowsAndClosesTheConnection) {
    std::string silent = makeRenderServiceName();
    // A registered name whose server never answers.
    UniqueFd listener = bindRaw(silent);
    ASSERT_TRUE(listener);
    ASSERT_EQ(::listen(listener.get(), 4), 0);
    Result<std::shared_ptr<LinkClient>> client =
        LinkClient::connect(silent, std::chrono::milliseconds(100));
    ASSERT_TRUE(client.ok()) << client.error();
    try {
        client.value()->className();
        FAIL() << "no timeout";
    } catch (const LinkError& error) {
        EXPECT_NE(std::string(error.what()).find("no reply within 100 ms"), std::string::npos)
            << error.what();
    }
    EXPECT_FALSE(client.value()->isConnected());
    EXPECT_THROW(client.value()->className(), LinkError);
    EXPECT_EQ(LinkClient::kDefaultTimeout, std::chrono::seconds(30));
}

TEST_F(LinkTest, VanishedServerSurfacesAsLinkError) {
    auto client = connect();
    ASSERT_TRUE(client);
    EXPECT_EQ(client->className(), "TestRoot");
    m_server.reset();
    EXPECT_FALSE(client->servePending());
    EXPECT_THROW(client->call("appController", "indicateFrame:of:", {1, 2}), LinkError);
    EXPECT_FALSE(client->isConnected());
    // The name is gone with its server.
    struct stat info {};
    EXPECT_NE(lstat(m_socketPath.c_str(), &info), 0);
    Result<std::shared_ptr<LinkClient>> again = LinkClient::connect(m_name);
    ASSERT_FALSE(again.ok());
    EXPECT_NE(again.error().find("no render service is registered"), std::string::npos);
}

TEST_F(LinkTest, ConnectingToANameNobodyRegisteredFails) {
    Result<std::shared_ptr<LinkClient>> client = LinkClient::connect("net.orbek.Lumivane.1.2");
    ASSERT_FALSE(client.ok());
    EXPECT_NE(client.error().find("no render service is registered"), std::string::npos);
    EXPECT_FALSE(LinkClient::connect("../../etc/passwd").ok());
    unsetenv("XDG_RUNTIME_DIR");
    setenv("XDG_RUNTIME_DIR", (m_runtimeDir + "/missing").c_str(), 1);
    EXPECT_FALSE(LinkClient::connect(m_name).ok());
}

TEST_F(LinkTest, BadBytesCloseOnlyTheirConnection) {
    auto client = connect();
    ASSERT_TRUE(client);
    std::vector<uint8_t> oversized{0x04, 0x00, 0x00, 0x01};
    std::vector<uint8_t> garbage{0x00, 0x00, 0x00, 0x05, 'h', 'e', 'l', 'l', 'o'};
    std::vector<uint8_t> truncated = frameOf(PlistDict{{"id", 1}, {"op", "class"}});
    truncated.resize(truncated.size() - 3);
    EXPECT_TRUE(closedAfter(oversized));
    EXPECT_TRUE(closedAfter(garbage));
    EXPECT_TRUE(closedAfter(truncated, true));
    EXPECT_TRUE(closedAfter(frameOf(PlistArray{1, 2})));
    EXPECT_TRUE(closedAfter(frameOf(PlistDict{{"op", "class"}, {"object", "root"}})));
    EXPECT_TRUE(closedAfter(frameOf(PlistDict{{"id", "1"}, {"op", "class"}, {"object", "root"}})));
    EXPECT_TRUE(closedAfter(frameOf(PlistDict{{"id", 1.0}, {"op", "class"}, {"object", "root"}})));
    EXPECT_EQ(client->className(), "TestRoot");
    EXPECT_EQ(m_server->connectionCount(), 1u);
}

TEST_F(LinkTest, RandomBytesNeverBringTheServerDown) {
    std::mt19937 random(20140915);
    std::vector<uint8_t> valid = frameOf(PlistDict{{"id", 1}, {"op", "class"}, {"object", "root"}});
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> bytes;
        if (round % 2 == 0) {
            // A well-formed frame with bytes of its body flipped.
            bytes = valid;
            for (int flips = 1 + round % 5; flips > 0; --flips)
                bytes[4 + random() % (bytes.size() - 4)] ^=
                    static_cast<uint8_t>(1 + random() % 255);
        } else {
            bytes.resize(random() % 64);
            for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
        }
        UniqueFd raw = connectRaw(m_name);
        ASSERT_TRUE(raw);
        sendBytes(raw.get(), bytes);
    }
    auto client = connect();
    ASSERT_TRUE(client);
    EXPECT_EQ(client->className(), "TestRoot");
}

TEST_F(LinkTest, OutOfOrderIdGetsAnErrorReplyThenTheConnectionCloses) {
    for (std::vector<int64_t> ids : {std::vector<int64_t>{2}, std::vector<int64_t>{1, 1},
                                     std::vector<int64_t>{1, 3}, std::vector<int64_t>{0}}) {
        UniqueFd raw = connectRaw(m_name);
        for (size_t i = 0; i < ids.size(); ++i) {
            sendBytes(raw.get(),
                      frameOf(PlistDict{{"id", ids[i]}, {"op", "class"}, {"object", "root"}}));
            std::optional<PlistValue> reply = readMessage(raw.get());
            ASSERT_TRUE(reply);
            const PlistDict* dict = reply->asDict();
            ASSERT_TRUE(dict);
            EXPECT_EQ(*dict->find("id"), PlistValue(ids[i]));
            if (i + 1 < ids.size()) continue;
            ASSERT_TRUE(dict->contains("error"));
            EXPECT_NE(dict->find("error")->asString()->find("out of order"), std::string::npos);
            bool closed = false;
            EXPECT_FALSE(readMessage(raw.get(), &closed));
            EXPECT_TRUE(closed);
        }
    }
}

TEST_F(LinkTest, UnsolicitedMessageToTheRendererClosesItsConnection) {
    std::string name = makeRenderServiceName();
    UniqueFd listener = bindRaw(name);
    ASSERT_TRUE(listener);
    ASSERT_EQ(::listen(listener.get(), 4), 0);
    Result<std::shared_ptr<LinkClient>> client = LinkClient::connect(name);
    ASSERT_TRUE(client.ok());
    UniqueFd peer(::accept(listener.get(), nullptr, nullptr));
    EXPECT_TRUE(client.value()->servePending());
    sendBytes(peer.get(), frameOf(PlistDict{{"id", 1}, {"op", "call"}}));
    bool stillOpen = true;
    for (int i = 0; i < 500 && stillOpen; ++i) {
        stillOpen = client.value()->servePending();
        if (stillOpen) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_FALSE(stillOpen);
    EXPECT_THROW(client.value()->className(), LinkError);
}

TEST_F(LinkTest, WrongReplyIdClosesTheConnection) {
    std::string name = makeRenderServiceName();
    UniqueFd listener = bindRaw(name);
    ASSERT_TRUE(listener);
    ASSERT_EQ(::listen(listener.get(), 4), 0);
    Result<std::shared_ptr<LinkClient>> client = LinkClient::connect(name);
    ASSERT_TRUE(client.ok());
    UniqueFd peer(::accept(listener.get(), nullptr, nullptr));
    sendBytes(peer.get(), frameOf(PlistDict{{"id", 7}, {"result", "RenderSettings"}}));
    EXPECT_THROW(client.value()->className(), LinkError);
    EXPECT_FALSE(client.value()->isConnected());
}

TEST_F(LinkTest, StaleSocketIsReplacedButALiveNameIsRefused) {
    Result<std::unique_ptr<LinkServer>> twin = LinkServer::create(m_name);
    ASSERT_FALSE(twin.ok());
    EXPECT_NE(twin.error().find("already registered"), std::string::npos) << twin.error();

    std::string stale = makeRenderServiceName();
    {
        UniqueFd dead = bindRaw(stale);
        ASSERT_TRUE(dead);
    }  // closed without unlinking: a server that died
    Result<std::unique_ptr<LinkServer>> fresh = LinkServer::create(stale);
    ASSERT_TRUE(fresh.ok()) << fresh.error();

    // A plain file under a name is never removed.
    std::string filed = makeRenderServiceName();
    FILE* file = fopen(RegistryDirectory::socketPath(filed).value().c_str(), "w");
    ASSERT_NE(file, nullptr);
    fclose(file);
    EXPECT_FALSE(LinkServer::create(filed).ok());
    struct stat info {};
    EXPECT_EQ(lstat(RegistryDirectory::socketPath(filed).value().c_str(), &info), 0);
}

TEST_F(LinkTest, ServerLeavesASuccessorsSocketInPlace) {
    std::string name = makeRenderServiceName();
    auto first = LinkServer::create(name);
    ASSERT_TRUE(first.ok());
    unlink(first.value()->socketPath().c_str());
    auto second = LinkServer::create(name);
    ASSERT_TRUE(second.ok()) << second.error();
    first.value().reset();
    struct stat info {};
    EXPECT_EQ(lstat(second.value()->socketPath().c_str(), &info), 0);
    EXPECT_TRUE(LinkClient::connect(name).ok());
}

TEST_F(LinkTest, ServerDestroyedByAHandlerStopsSafely) {
    std::string name = makeRenderServiceName();
    std::unique_ptr<LinkServer> server;
    class Quitter : public TestRoot {
    public:
        explicit Quitter(std::unique_ptr<LinkServer>& server) : m_server(server) {}
        void call(const std::string&, const std::string&, const PlistArray&) override {
            m_server.reset();
        }
        std::unique_ptr<LinkServer>& m_server;
    };
    auto created = LinkServer::create(name, std::make_shared<Quitter>(server));
    ASSERT_TRUE(created.ok());
    server = std::move(created.value());
    std::atomic<bool> threw{false};
    std::thread renderer([&] {
        auto client = LinkClient::connect(name);
        if (!client) return;
        try {
            client.value()->call("appController", "indicateFrame:of:", {0, 1});
        } catch (const LinkError&) {
            threw = true;
        }
    });
    for (int i = 0; i < 1000 && server; ++i) server->serveFor(std::chrono::milliseconds(5));
    renderer.join();
    EXPECT_FALSE(server);
    EXPECT_TRUE(threw);
}

// A server of the test's own, served only by the test's calls.
std::unique_ptr<LinkServer> ownServer(const std::string& name, std::shared_ptr<LinkObject> root) {
    auto created = LinkServer::create(name, std::move(root));
    EXPECT_TRUE(created.ok()) << created.error();
    return created ? std::move(created.value()) : nullptr;
}

// Sends what the socket takes now of bytes[offset...]; the new offset, or
// nothing once the peer has closed.
std::optional<size_t> sendSome(int fd, const std::vector<uint8_t>& bytes, size_t offset) {
    while (offset < bytes.size()) {
        ssize_t count =
            ::send(fd, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count > 0) {
            offset += static_cast<size_t>(count);
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return offset;
        } else if (count < 0 && errno != EINTR) {
            return std::nullopt;
        }
    }
    return offset;
}

// Reads and drops whatever has arrived; false once the peer has closed.
bool drain(int fd) {
    uint8_t buffer[65536];
    for (;;) {
        ssize_t count = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (count > 0) continue;
        return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    }
}

// A peer pipelining progress reports keeps no other waiting: a burst of 128
// peers connecting meanwhile all get in, and each one's request is answered
// before more than a few of the flood's; and no report is lost.
TEST_F(LinkTest, FloodingPeerDoesNotStarveOthers) {
    const std::string name = makeRenderServiceName();
    auto root = std::make_shared<TestRoot>();
    auto server = ownServer(name, root);
    ASSERT_TRUE(server);
    constexpr size_t kFlood = 5000;
    std::vector<uint8_t> flood;
    for (int id = 1; id <= int{kFlood}; ++id) {
        std::vector<uint8_t> frame = frameOf(PlistDict{{"id", id},
                                                       {"op", "call"},
                                                       {"object", "appController"},
                                                       {"selector", "indicateFrame:of:"},
                                                       {"args", PlistArray{id - 1, 5000}}});
        flood.insert(flood.end(), frame.begin(), frame.end());
    }
    UniqueFd flooder = connectRaw(name);
    ASSERT_TRUE(flooder);
    size_t sent = 0;
    // One turn of the application's loop: the flooder sends what its socket
    // takes and reads its replies, the server serves.
    const auto turn = [&] {
        std::optional<size_t> offset = sendSome(flooder.get(), flood, sent);
        if (!offset) return false;
        sent = *offset;
        server->servePending();
        return drain(flooder.get());
    };
    // The flooder's socket full before the server has read any of it.
    sent = sendSome(flooder.get(), flood, 0).value_or(0);
    ASSERT_GT(sent, flood.size() / 10);

    const sockaddr_un address = RegistryDirectory::socketAddress(server->socketPath());
    const std::vector<uint8_t> request = frameOf(PlistDict{
        {"id", 1}, {"op", "call"}, {"object", "appController"}, {"selector", "enableControls"}});
    std::vector<UniqueFd> burst;
    for (int i = 0; i < 128; ++i) {
        burst.emplace_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        ASSERT_EQ(::connect(burst.back().get(), reinterpret_cast<const sockaddr*>(&address),
                            sizeof address),
                  0)
            << "peer " << i << ": " << strerror(errno);
        sendBytes(burst.back().get(), request);
    }
    for (int pass = 0; pass < 100000 && root->count("enableControls") < burst.size(); ++pass)
        ASSERT_TRUE(turn());
    EXPECT_EQ(root->count("enableControls"), burst.size());
    EXPECT_LT(root->count("indicateFrame:of:"), 100u) << "flood requests answered first";

    for (int pass = 0; pass < 100000 && root->count("indicateFrame:of:") < kFlood; ++pass)
        ASSERT_TRUE(turn());
    EXPECT_EQ(root->count("indicateFrame:of:"), kFlood);
}

// Peers each holding most of a large message cannot take the application's
// memory with them: past the cap for all of them together, the peer holding
// the most goes, and the others stay.
TEST_F(LinkTest, UnfinishedMessagesAreCappedAcrossPeers) {
    const std::string name = makeRenderServiceName();
    auto server = ownServer(name, m_root);
    ASSERT_TRUE(server);
    std::vector<uint8_t> partial(60u << 20);  // of a message of 64 MiB
    partial[0] = 0x04;
    constexpr size_t kPeers = 5;  // 5 x 60 MiB is over the 256 MiB cap, 4 x 60 within it
    std::vector<UniqueFd> peers;
    std::vector<std::optional<size_t>> sent(kPeers, size_t{0});
    for (size_t i = 0; i < kPeers; ++i) peers.push_back(connectRaw(name));
    const auto sending = [&] {
        return std::any_of(sent.begin(), sent.end(),
                           [&](auto at) { return at && *at < partial.size(); });
    };
    for (int pass = 0; pass < 100000 && sending(); ++pass) {
        for (size_t i = 0; i < kPeers; ++i)
            if (sent[i]) sent[i] = sendSome(peers[i].get(), partial, *sent[i]);
        server->servePending();
    }
    server->servePending();
    EXPECT_EQ(std::count_if(peers.begin(), peers.end(), [](auto& fd) { return !drain(fd.get()); }),
              1);
    EXPECT_EQ(server->connectionCount(), kPeers - 1);
}

TEST_F(LinkTest, PeerOfAnotherUserIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a peer as another user";
    // Let the other user reach the socket, so that only the credential check stands.
    ASSERT_EQ(chmod(m_runtimeDir.c_str(), 0711), 0);
    ASSERT_EQ(chmod(registryPath().c_str(), 0711), 0);
    ASSERT_EQ(chmod(m_socketPath.c_str(), 0777), 0);
    std::vector<uint8_t> request =
        frameOf(PlistDict{{"id", 1}, {"op", "class"}, {"object", "root"}});
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const sockaddr_un address = RegistryDirectory::socketAddress(m_socketPath);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            _exit(2);
        (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        timeval timeout{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        char byte = 0;
        // Closed (or reset, the request unread) without a reply.
        ssize_t got = ::recv(fd, &byte, 1, 0);
        _exit(got == 0 || (got < 0 && errno == ECONNRESET) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(m_server->connectionCount(), 0u);
    ASSERT_EQ(chmod(registryPath().c_str(), 0700), 0);
}

}  // namespace
}  // namespace lumivane
