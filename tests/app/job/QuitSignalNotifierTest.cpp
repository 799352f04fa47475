// Quit quitSignals reach the event loop as one quitRequested() each, and the
// previous handlers come back afterwards.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>

#include "app/job/QuitSignalNotifier.h"

namespace {

int g_fallbackCount = 0;
void fallbackHandler(int) {
    ++g_fallbackCount;
}

TEST(QuitSignalNotifier, EachQuitSignalIsOneRequestOnTheEventLoop) {
    struct sigaction fallback {};
    fallback.sa_handler = fallbackHandler;
    sigemptyset(&fallback.sa_mask);
    struct sigaction saved[3];
    const int quitSignals[] = {SIGHUP, SIGTERM, SIGINT};
    for (int i = 0; i < 3; ++i) sigaction(quitSignals[i], &fallback, &saved[i]);

    {
        QuitSignalNotifier notifier;
        ASSERT_TRUE(notifier.installed().ok()) << notifier.installed().error();
        QuitSignalNotifier second;
        EXPECT_FALSE(second.installed().ok());

        QSignalSpy requests(&notifier, &QuitSignalNotifier::quitRequested);
        for (int signalNumber : quitSignals) {
            requests.clear();
            raise(signalNumber);
            // Nothing happens inside the handler: the request waits for the loop.
            EXPECT_EQ(requests.count(), 0);
            QElapsedTimer clock;
            clock.start();
            while (requests.count() == 0 && clock.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
            EXPECT_EQ(requests.count(), 1) << "signal " << signalNumber;
            EXPECT_EQ(notifier.lastSignal(), signalNumber);
        }
        EXPECT_EQ(g_fallbackCount, 0);
    }

    // The handlers that were there before are back.
    raise(SIGHUP);
    EXPECT_EQ(g_fallbackCount, 1);
    for (int i = 0; i < 3; ++i) sigaction(quitSignals[i], &saved[i], nullptr);
}

}  // namespace

// An event loop that never takes the request (a display gone, a call that
// does not return) does not keep the process alive.
TEST(QuitSignalNotifier, AStuckEventLoopStillEnds) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        QuitSignalNotifier notifier;
        if (!notifier.installed().ok()) _exit(3);
        raise(SIGTERM);
        for (int i = 0; i < 30; ++i) sleep(1);  // no event loop runs
        _exit(0);
    }
    int status = 0;
    QElapsedTimer clock;
    clock.start();
    while (waitpid(child, &status, WNOHANG) == 0 && clock.elapsed() < 20000) usleep(50000);
    if (clock.elapsed() >= 20000) kill(child, SIGKILL);
    ASSERT_TRUE(WIFEXITED(status)) << "still running or killed";
    EXPECT_EQ(WEXITSTATUS(status), 1);
}
