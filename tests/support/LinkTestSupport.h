// Helpers of the render-link tests: a private registry per test, a server
// served from its own thread, raw sockets for speaking bad protocol.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/FileHandles.h"
#include "platform/link/FrameDecoder.h"
#include "platform/link/LinkServer.h"
#include "platform/link/RegistryDirectory.h"

namespace lumivane::test {

// Points XDG_RUNTIME_DIR at a fresh private directory for the test's lifetime.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumivane-link-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_runtimeDir = pattern;
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        if (old) m_oldRuntimeDir = old;
        setenv("XDG_RUNTIME_DIR", m_runtimeDir.c_str(), 1);
    }
    void TearDown() override {
        if (m_oldRuntimeDir)
            setenv("XDG_RUNTIME_DIR", m_oldRuntimeDir->c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
        std::error_code ignored;
        std::filesystem::permissions(m_runtimeDir, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(m_runtimeDir, ignored);
    }
    std::string registryPath() const { return m_runtimeDir + "/lumivane"; }

    std::string m_runtimeDir;
    std::optional<std::string> m_oldRuntimeDir;
};

// A server driven from a thread of its own until destroyed. Work that touches
// the server itself goes through run(), which executes between passes.
class ServerThread {
public:
    explicit ServerThread(std::unique_ptr<LinkServer> server) : m_server(std::move(server)) {
        m_thread = std::thread([this] {
            while (!m_stop) {
                m_server->serveFor(std::chrono::milliseconds(10));
                std::lock_guard lock(m_mutex);
                for (auto& job : m_jobs) job();
                m_jobs.clear();
            }
        });
    }
    ~ServerThread() {
        m_stop = true;
        m_thread.join();
    }
    // Runs the job on the serving thread and waits for it.
    void run(std::function<void(std::unique_ptr<LinkServer>&)> job) {
        std::atomic<bool> done{false};
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back([&] {
                job(m_server);
                done = true;
            });
        }
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    size_t connectionCount() {
        size_t count = 0;
        run([&](auto& server) { count = server ? server->connectionCount() : 0; });
        return count;
    }

private:
    std::unique_ptr<LinkServer> m_server;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::function<void()>> m_jobs;
};

// A plain socket bound at a registered name's path, as a server's would be,
// that answers nothing of itself; empty when the bind fails.
inline UniqueFd bindRaw(const std::string& serviceName) {
    Result<std::string> path = RegistryDirectory::socketPath(serviceName);
    if (!path) return UniqueFd();
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_un address = RegistryDirectory::socketAddress(*path);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return UniqueFd();
    return fd;
}

// A plain blocking socket connected to a registered name.
inline UniqueFd connectRaw(const std::string& serviceName) {
    Result<std::string> path = RegistryDirectory::socketPath(serviceName);
    if (!path) return UniqueFd();
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_un address = RegistryDirectory::socketAddress(*path);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return UniqueFd();
    timeval timeout{5, 0};
    setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return fd;
}

inline void sendBytes(int fd, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t count = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) return;
        sent += static_cast<size_t>(count);
    }
}

inline std::vector<uint8_t> frameOf(const PlistValue& message) {
    Result<std::vector<uint8_t>> frame = encodeFrame(message);
    return frame ? frame.value() : std::vector<uint8_t>{};
}

// Reads until one message is complete; nullopt when the peer closes first
// (or nothing arrives within the socket's five-second receive timeout).
inline std::optional<PlistValue> readMessage(int fd, bool* closed = nullptr) {
    FrameDecoder decoder;
    uint8_t buffer[4096];
    for (;;) {
        if (std::optional<PlistValue> message = decoder.take()) return message;
        ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count <= 0) {
            if (closed) *closed = (count == 0);
            return std::nullopt;
        }
        decoder.append(std::span<const uint8_t>(buffer, static_cast<size_t>(count)));
    }
}

}  // namespace lumivane::test
