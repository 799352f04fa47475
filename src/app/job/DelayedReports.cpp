#include "app/job/DelayedReports.h"

DelayedReports::DelayedReports(QObject* parent) : QObject(parent) {
    m_cancelledTimer.setSingleShot(true);
    m_cancelledTimer.setInterval(100);
    m_blankTimer.setSingleShot(true);
    m_blankTimer.setInterval(2500);
    // The texts change at 0.1 s and 2.5 s, not within a coarse timer's slack.
    m_cancelledTimer.setTimerType(Qt::PreciseTimer);
    m_blankTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_cancelledTimer, &QTimer::timeout, this,
            [this] { emit errorReportDue(QStringLiteral("Cancelled")); });
    connect(&m_blankTimer, &QTimer::timeout, this, [this] { emit errorReportDue(QString()); });
}

void DelayedReports::scheduleCancelReports() {
    m_cancelledTimer.start();
    m_blankTimer.start();
}

void DelayedReports::dropPending() {
    m_cancelledTimer.stop();
    m_blankTimer.stop();
}

bool DelayedReports::hasPending() const {
    return m_cancelledTimer.isActive() || m_blankTimer.isActive();
}
