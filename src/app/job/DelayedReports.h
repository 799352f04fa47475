// The reports that follow a cancel: "Cancelled" after 0.1 s, then the empty
// text after 2.5 s, which blanks the status line. Each goes to the
// controller's error handler, which also re-enables the controls; so a new
// job drops the pending ones, or a late blanking would end its watching.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class DelayedReports : public QObject {
    Q_OBJECT

public:
    explicit DelayedReports(QObject* parent = nullptr);

    // Starts both timers (again, if they were pending).
    void scheduleCancelReports();
    // Stops whatever has not been reported yet.
    void dropPending();
    bool hasPending() const;

signals:
    // An error key to show: "Cancelled", then "".
    void errorReportDue(const QString& errorKey);

private:
    QTimer m_cancelledTimer;
    QTimer m_blankTimer;
};
