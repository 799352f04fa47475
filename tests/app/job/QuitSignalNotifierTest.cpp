// Quit quitSignals reach the event loop as one quitRequested() each, and the
// previous handlers come back afterwards.
#include <gtest/gtest.h>
#include <signal.h>

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
