// SIGTERM, SIGINT and SIGHUP delivered to the application become one Qt
// signal on the event loop. The handler only writes the signal's number into
// a pipe; everything else happens when the event loop reads it. An event
// loop that has not read it within kStuckLoopSeconds is stuck (its X display
// gone, a call that never returns), and the process ends with status 1.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

#include "base/Result.h"

class QuitSignalNotifier : public QObject {
    Q_OBJECT

public:
    static constexpr unsigned kStuckLoopSeconds = 5;

    // Installs the handlers; the previous ones come back when it goes. One
    // instance at a time: a second one fails to install and does nothing.
    explicit QuitSignalNotifier(QObject* parent = nullptr);
    ~QuitSignalNotifier() override;

    // Whether the handlers are installed, or why not.
    const lumivane::Result<void>& installed() const { return m_installed; }
    // The last signal taken, 0 before any.
    int lastSignal() const { return m_lastSignal; }

signals:
    // Once per batch of signals read on the event loop.
    void quitRequested();

private:
    void readSignals();

    lumivane::Result<void> m_installed;
    int m_readFd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_lastSignal = 0;
};
