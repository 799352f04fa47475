#include "app/job/QuitSignalNotifier.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the signal handler; one process-wide pipe.
volatile sig_atomic_t g_writeFd = -1;
struct sigaction g_previous[3];

struct sigaction g_previousAlarm;

void onQuitSignal(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a pending request: dropping the byte is fine.
    (void)!write(g_writeFd, &byte, 1);
    // An event loop that does not take the request in time is stuck (its
    // display gone, a GL call that never returns): the process ends then.
    alarm(QuitSignalNotifier::kStuckLoopSeconds);
    errno = savedErrno;
}

void onStuckLoop(int) {
    static const char message[] =
        "Lumivane: the quit request was not taken within 5 seconds; ending now\n";
    (void)!write(STDERR_FILENO, message, sizeof message - 1);
    _exit(1);
}

}  // namespace

QuitSignalNotifier::QuitSignalNotifier(QObject* parent) : QObject(parent) {
    if (g_writeFd != -1) {
        m_installed = lumivane::Error{"quit signals are already taken by another notifier"};
        return;
    }
    int fds[2];
    // Close-on-exec: the renderer must not inherit the pipe.
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_installed =
            lumivane::Error{std::string("cannot create the quit signal pipe: ") + strerror(errno)};
        return;
    }
    m_readFd = fds[0];
    g_writeFd = fds[1];
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kQuitSignals); ++i)
        sigaction(kQuitSignals[i], &action, &g_previous[i]);
    struct sigaction stuck {};
    stuck.sa_handler = onStuckLoop;
    sigemptyset(&stuck.sa_mask);
    sigaction(SIGALRM, &stuck, &g_previousAlarm);
    m_notifier = std::make_unique<QSocketNotifier>(m_readFd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &QuitSignalNotifier::readSignals);
}

QuitSignalNotifier::~QuitSignalNotifier() {
    if (m_readFd == -1) return;
    for (size_t i = 0; i < std::size(kQuitSignals); ++i)
        sigaction(kQuitSignals[i], &g_previous[i], nullptr);
    alarm(0);
    sigaction(SIGALRM, &g_previousAlarm, nullptr);
    m_notifier.reset();
    const int writeFd = g_writeFd;
    g_writeFd = -1;
    close(writeFd);
    close(m_readFd);
}

void QuitSignalNotifier::readSignals() {
    // The loop runs: whatever it does with the request, it is not stuck.
    alarm(0);
    unsigned char bytes[64];
    bool any = false;
    for (;;) {
        const ssize_t count = read(m_readFd, bytes, sizeof bytes);
        if (count > 0) {
            m_lastSignal = bytes[count - 1];
            any = true;
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        break;  // drained (EAGAIN)
    }
    if (any) emit quitRequested();
}
