#include "ProcessRunner.h"

#include "base/MonotonicClock.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace lumivane::test {
namespace {

[[noreturn]] void execChild(const std::vector<std::string>& argv, const ProcessOptions& options,
                            int outFd, int errFd) {
    // A program that a test makes fault leaves no core behind.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, STDIN_FILENO);
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
        _exit(126);
    for (const std::string& entry : options.environment) putenv(strdup(entry.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

// Forks a child that runs argv. Signals to be ignored are blocked from before
// the fork until the child ignores them, so that one sent at once is never
// taken by the default action.
pid_t forkChild(const std::vector<std::string>& argv, const ProcessOptions& options, int outFd,
                int errFd) {
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    for (int signalNumber : options.ignoredSignals) sigaddset(&blocked, signalNumber);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    pid_t pid = fork();
    if (pid == 0) {
        for (int signalNumber : options.ignoredSignals) ::signal(signalNumber, SIG_IGN);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        execChild(argv, options, outFd, errFd);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0) throw std::runtime_error("fork failed");
    return pid;
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = forkChild(argv, options, outPipe[1], errPipe[1]);
    close(outPipe[1]);
    close(errPipe[1]);

    ProcessResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    double deadline = monotonicSeconds() + options.timeoutSeconds;
    while (open > 0) {
        int waitMs = static_cast<int>((deadline - monotonicSeconds()) * 1000);
        if (waitMs <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, waitMs) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[65536];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& fd : fds)
        if (fd.fd >= 0) close(fd.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

ShellResult runShell(const std::string& command) {
    ShellResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[65536];
    while (size_t count = fread(buffer, 1, sizeof buffer, pipe))
        result.output.append(buffer, count);
    const int status = pclose(pipe);
    result.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& errorFile,
                           const ProcessOptions& options) {
    int outPipe[2];
    if (pipe(outPipe) != 0) throw std::runtime_error("pipe failed");
    int devNull = errorFile.empty() ? open("/dev/null", O_WRONLY)
                                    : open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    m_pid = forkChild(argv, options, outPipe[1], devNull);
    close(devNull);
    close(outPipe[1]);
    m_outFd = outPipe[0];
}

ChildProcess::~ChildProcess() {
    if (!m_exited) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_outFd >= 0) close(m_outFd);
}

bool ChildProcess::readSome(int timeoutMs) {
    if (m_outFd < 0) return false;
    pollfd fd{m_outFd, POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) <= 0) return true;
    char buffer[4096];
    ssize_t n = read(m_outFd, buffer, sizeof buffer);
    if (n <= 0) {
        close(m_outFd);
        m_outFd = -1;
        return false;
    }
    m_out.append(buffer, static_cast<size_t>(n));
    return true;
}

bool ChildProcess::waitForLine(const std::string& prefix, double timeoutSeconds) {
    double deadline = monotonicSeconds() + timeoutSeconds;
    for (;;) {
        size_t lineStart = m_scanned;
        for (size_t end; (end = m_out.find('\n', lineStart)) != std::string::npos;
             lineStart = end + 1) {
            if (m_out.compare(lineStart, prefix.size(), prefix) == 0) {
                m_scanned = end + 1;
                return true;
            }
        }
        m_scanned = lineStart;
        int remaining = static_cast<int>((deadline - monotonicSeconds()) * 1000);
        if (remaining <= 0 || !readSome(remaining)) return false;
    }
}

void ChildProcess::signal(int signalNumber) {
    kill(m_pid, signalNumber);
}

int ChildProcess::wait(double timeoutSeconds) {
    double deadline = monotonicSeconds() + timeoutSeconds;
    while (monotonicSeconds() < deadline && readSome(100)) {
    }
    int status = 0;
    for (;;) {
        pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) break;
        if (monotonicSeconds() > deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            break;
        }
        usleep(10000);
    }
    m_exited = true;
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m_status;
}

std::string cliPath() {
    if (const char* path = getenv("LUMIVANE_CLI")) return path;
    return std::string(LUMIVANE_BINARY_DIR) + "/bin/LumivaneCLI";
}

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "lumivane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void writeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

}  // namespace lumivane::test
