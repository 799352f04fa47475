// After a cancel, "Cancelled" shows from 0.1 s and the line blanks at 2.5 s;
// a new job drops what is still pending.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <utility>
#include <vector>

#include "app/job/DelayedReports.h"

namespace {

using Reports = std::vector<std::pair<QString, qint64>>;

// Runs the event loop for the given time, noting each report with its time
// since the start.
Reports collect(DelayedReports& reports, int milliseconds, bool dropAfterFirst = false) {
    Reports seen;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QObject::connect(&reports, &DelayedReports::errorReportDue, &loop, [&](const QString& key) {
        seen.emplace_back(key, clock.elapsed());
        if (dropAfterFirst) reports.dropPending();
    });
    reports.scheduleCancelReports();
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(&reports, &DelayedReports::errorReportDue, &loop, nullptr);
    return seen;
}

TEST(DelayedReports, CancelledThenBlankUnlessANewJobDropsThem) {
    DelayedReports reports;
    Reports seen = collect(reports, 3000);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, "Cancelled");
    EXPECT_GE(seen[0].second, 100);
    EXPECT_LT(seen[0].second, 1000);
    EXPECT_TRUE(seen[1].first.isEmpty());
    EXPECT_GE(seen[1].second, 2500);
    EXPECT_LT(seen[1].second, 3000);
    EXPECT_FALSE(reports.hasPending());

    // A new job starts right after "Cancelled" showed: no blanking follows.
    seen = collect(reports, 3000, /*dropAfterFirst=*/true);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first, "Cancelled");
    EXPECT_FALSE(reports.hasPending());
}

}  // namespace
