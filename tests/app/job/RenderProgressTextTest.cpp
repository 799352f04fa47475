// The elapsed-time line, its remaining-time estimate and the values of a
// frame report.
#include <gtest/gtest.h>

#include "app/job/RenderProgressText.h"

namespace {

struct ElapsedCase {
    double elapsed;
    double progress;
    const char* line;
};

TEST(RenderProgressText, ElapsedLines) {
    const ElapsedCase cases[] = {
        // At launch, no frame reported: 0/0, no estimate.
        {0, 0, "00:00:00 elapsed "},
        // No frame after a while: R is infinite.
        {12, 0, "00:00:12 elapsed "},
        // Under five seconds: no estimate even with progress.
        {4.99, 0.5, "00:00:04 elapsed "},
        {10, 0.25, "00:00:10 elapsed \u2014 about 30s remaining"},
        // Remaining 4900 s: Rh = 1.
        {100, 0.02, "00:01:40 elapsed \u2014 about 1h 21m remaining"},
        // Remaining 2000 s, 125 s, 5 h, 3599 s, 3 h 59 m, 4 h, 59 s, 60 s, 1800 s.
        {2000, 0.5, "00:33:20 elapsed \u2014 about 33m remaining"},
        {125, 0.5, "00:02:05 elapsed \u2014 about 2m 5s remaining"},
        {18000, 0.5, "05:00:00 elapsed \u2014 about 5h remaining"},
        {3599, 0.5, "00:59:59 elapsed \u2014 about 59m remaining"},
        {14399, 0.5, "03:59:59 elapsed \u2014 about 3h 59m remaining"},
        {14400, 0.5, "04:00:00 elapsed \u2014 about 4h remaining"},
        {59, 0.5, "00:00:59 elapsed \u2014 about 59s remaining"},
        {60, 0.5, "00:01:00 elapsed \u2014 about 1m 0s remaining"},
        {1800, 0.5, "00:30:00 elapsed \u2014 about 30m remaining"},
        {1799.9, 0.5, "00:29:59 elapsed \u2014 about 29m 59s remaining"},
        // Truncation, not rounding: E 5.9 at p 0.5 leaves 5.9 s.
        {5.9, 0.5, "00:00:05 elapsed \u2014 about 5s remaining"},
        // Hours past a day are not reduced modulo 24.
        {90000, 0.5, "25:00:00 elapsed \u2014 about 25h remaining"},
        // Done: nothing remains.
        {20, 1.0, "00:00:20 elapsed \u2014 about 0s remaining"},
        // A progress above 1 (only from a faulty report) gives no estimate
        // rather than a negative one.
        {20, 2.0, "00:00:20 elapsed "},
        // An estimate whose hours pass 2^32 saturates instead of wrapping.
        {10, 1e-15, "00:00:10 elapsed \u2014 about 4294967295h remaining"},
    };
    for (const ElapsedCase& c : cases) {
        EXPECT_EQ(RenderProgressText::elapsedLine(c.elapsed, c.progress).toStdString(), c.line)
            << "E = " << c.elapsed << ", p = " << c.progress;
    }
}

struct FrameCase {
    int index;
    int count;
    int frameNumber;
    double percentage;
    double bar;
};

TEST(RenderProgressText, FrameStatusArguments) {
    const FrameCase cases[] = {
        {0, 100, 1, 1.0, 0.005},
        {99, 100, 100, 100.0, 0.995},
        {0, 1, 1, 100.0, 0.5},
        // Single precision: 1 x 100 / 3 as a float, widened afterwards.
        {0, 3, 1, static_cast<double>(100.0f / 3.0f), 0.5 / 3},
        {1, 300, 2, static_cast<double>(200.0f / 300.0f), 1.5 / 300},
        // A faulty peer's reports keep the bar inside its range.
        {150, 100, 151, 151.0, 1.0},
        {-5, 100, -4, -4.0, 0.0},
    };
    for (const FrameCase& c : cases) {
        auto arguments = RenderProgressText::frameStatusArguments(c.index, c.count);
        EXPECT_EQ(arguments.frameNumber, c.frameNumber) << c.index << " of " << c.count;
        EXPECT_EQ(arguments.frameCount, c.count);
        EXPECT_EQ(arguments.percentage, c.percentage) << c.index << " of " << c.count;
        EXPECT_DOUBLE_EQ(arguments.barValue, c.bar) << c.index << " of " << c.count;
    }
    // The float quotient differs from the double one: the design's precision
    // is kept.
    EXPECT_NE(RenderProgressText::frameStatusArguments(0, 3).percentage, 100.0 / 3.0);
}

}  // namespace
