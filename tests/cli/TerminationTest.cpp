// A render stopped from outside never leaves an unplayable movie.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "MovieProbe.h"
#include "ProcessRunner.h"

namespace lumivane {
namespace {

using test::decodedFrames;
using test::runProcess;
using test::topLevelBoxes;

std::string demo() {
    return std::string(LUMIVANE_SOURCE_DIR) + "/resources/compositions/demo.qtz";
}

bool contains(const std::vector<std::string>& boxes, const std::string& box) {
    return std::find(boxes.begin(), boxes.end(), box) != boxes.end();
}

int frameLines(const std::string& out) {
    int count = 0;
    for (size_t at = 0; (at = out.find("Frame ", at)) != std::string::npos; ++at) ++count;
    return count;
}

class Termination : public ::testing::TestWithParam<int> {
protected:
    test::TempDir m_dir;
};

TEST_P(Termination, SignalFinishesTheMovieWithTheFramesWritten) {
    std::string movie = m_dir.file("stopped.mov");
    test::ChildProcess cli(
        {test::cliPath(), "-vv", "-w", "160", "-h", "120", "-d", "60", "-o", movie, demo()});
    ASSERT_TRUE(cli.waitForLine("Frame 12 of", 60)) << cli.out();
    cli.signal(GetParam());
    EXPECT_EQ(cli.wait(), 0);
    int written = frameLines(cli.out());
    EXPECT_GE(written, 12);
    EXPECT_EQ(decodedFrames(movie), written);
    // An ordinary movie: its index ahead of the media, no fragments left.
    auto boxes = topLevelBoxes(movie);
    ASSERT_TRUE(contains(boxes, "moov"));
    EXPECT_FALSE(contains(boxes, "moof"));
    EXPECT_LT(std::find(boxes.begin(), boxes.end(), "moov") - boxes.begin(),
              std::find(boxes.begin(), boxes.end(), "mdat") - boxes.begin());
}

INSTANTIATE_TEST_SUITE_P(Signals, Termination, ::testing::Values(SIGTERM, SIGINT));

TEST(TerminationKill, KilledRenderLeavesEveryCompletedFragment) {
    test::TempDir dir;
    std::string movie = dir.file("killed.mov");
    test::ChildProcess cli(
        {test::cliPath(), "-vv", "-w", "160", "-h", "120", "-d", "60", "-o", movie, demo()});
    // 134 frames handed over; the encoder holds back up to a few dozen for its
    // look-ahead, so at least two one-second fragments are complete on disk.
    ASSERT_TRUE(cli.waitForLine("Frame 135 of", 120)) << cli.out();
    cli.signal(SIGKILL);
    EXPECT_EQ(cli.wait(), 128 + SIGKILL);
    int frames = decodedFrames(movie);
    EXPECT_GE(frames, 60);
    EXPECT_LE(frames, 135);
    EXPECT_EQ(frames % 30, 0) << "whole fragments only";
}

TEST(TerminationKill, SignalDuringAnImageSequenceKeepsWholeFiles) {
    test::TempDir dir;
    test::ChildProcess cli({test::cliPath(), "-vv", "-w", "64", "-h", "48", "-d", "60", "-c",
                            "public.png", "-o", dir.file("frames"), demo()});
    ASSERT_TRUE(cli.waitForLine("Frame 5 of", 60));
    cli.signal(SIGTERM);
    EXPECT_EQ(cli.wait(), 0);
    int written = frameLines(cli.out());
    char last[32];
    snprintf(last, sizeof last, "/frames/Image-%04d.png", written);
    auto probe = runProcess({"/usr/bin/ffprobe", "-v", "error", dir.path() + last});
    EXPECT_EQ(probe.status, 0) << "the last frame file is complete";
}

}  // namespace
}  // namespace lumivane
