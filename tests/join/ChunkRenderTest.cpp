// A render split with LumivaneCLI --frames and put together by LumivaneJoin is
// the single render: the same frames, the same movie around them.
#include <gtest/gtest.h>

#include "MediaTestSupport.h"
#include "ProcessRunner.h"

namespace lumivane {
namespace {

using test::runProcess;
using test::TempDir;

std::string demo() {
    return std::string(LUMIVANE_SOURCE_DIR) + "/resources/compositions/demo.qtz";
}

void render(const std::string& output, const std::string& codec, const std::string& frames,
            const std::vector<std::string>& more = {}) {
    std::vector<std::string> argv = {test::cliPath(), "-w", "64",  "-h", "48", "-d", "2", "-c",
                                     codec,           "-o", output};
    argv.insert(argv.end(), more.begin(), more.end());
    if (!frames.empty()) argv.insert(argv.end(), {"--frames", frames});
    argv.push_back(demo());
    const auto run = runProcess(argv, test::withTimeout(300));
    ASSERT_EQ(run.status, 0) << run.err;
}

class ChunkRender : public testing::TestWithParam<std::string> {};

TEST_P(ChunkRender, JoinsIntoTheWholeRender) {
    TempDir scratch;
    render(scratch.file("whole.mov"), GetParam(), "");
    render(scratch.file("c.mov"), GetParam(), "46-60");
    render(scratch.file("a.mov"), GetParam(), "1-20");
    render(scratch.file("b.mov"), GetParam(), "21-45");
    const auto joined =
        runProcess({LUMIVANE_JOIN_PROGRAM, "-o", scratch.file("joined.mov"), scratch.file("c.mov"),
                    scratch.file("b.mov"), scratch.file("a.mov")});
    ASSERT_EQ(joined.status, 0) << joined.err;
    const auto whole = test::decodeRGBA(scratch.file("whole.mov"));
    ASSERT_EQ(whole.size(), size_t(60) * 64 * 48 * 4);
    EXPECT_TRUE(whole == test::decodeRGBA(scratch.file("joined.mov")));
    auto stream = test::probeStream(scratch.file("joined.mov"));
    auto single = test::probeStream(scratch.file("whole.mov"));
    for (const char* key :
         {"time_base", "r_frame_rate", "codec_tag_string", "pix_fmt", "color_space",
          "color_primaries", "color_transfer", "start_pts", "duration_ts", "nb_frames"}) {
        EXPECT_EQ(stream[key], single[key]) << key;
    }
    EXPECT_EQ(stream["format"]["tags"], single["format"]["tags"]);
    // A chunk of the same frames with motion blur is a piece of another render.
    render(scratch.file("blurred.mov"), GetParam(), "21-45", {"-m", "2"});
    const auto foreign =
        runProcess({LUMIVANE_JOIN_PROGRAM, "-o", scratch.file("joined.mov"), scratch.file("a.mov"),
                    scratch.file("blurred.mov"), scratch.file("c.mov")});
    EXPECT_EQ(foreign.status, 1);
    EXPECT_NE(foreign.err.find("blurred.mov\": is a chunk of another render: rendered with "
                               "motion_blur=2 where"),
              std::string::npos)
        << foreign.err;
}

// Chunks of an image sequence share one directory; the check passes once
// every chunk of the render has written its frames, and names what a missing
// chunk lacks or a chunk of another render differs in.
TEST(ChunkSequence, IsWholeOnceEveryChunkWrote) {
    TempDir scratch;
    const std::string frames = scratch.file("frames");
    render(frames, "public.png", "31-60");
    const auto partly = runProcess({LUMIVANE_JOIN_PROGRAM, "--sequence", frames, "60"});
    EXPECT_EQ(partly.status, 1);
    EXPECT_NE(partly.err.find("frames 1-30 are missing"), std::string::npos) << partly.err;
    render(frames, "public.png", "1-30", {"-a", "2"});
    const auto foreign = runProcess({LUMIVANE_JOIN_PROGRAM, "--sequence", frames, "60"});
    EXPECT_EQ(foreign.status, 1);
    EXPECT_NE(foreign.err.find(".lumivane-chunk-31-60.txt is a chunk of another render: rendered "
                               "with antialias=1 where .lumivane-chunk-1-30.txt has 2"),
              std::string::npos)
        << foreign.err;
    render(frames, "public.png", "1-30");
    const auto whole = runProcess({LUMIVANE_JOIN_PROGRAM, "--sequence", frames, "60"});
    EXPECT_EQ(whole.status, 0) << whole.err;
}

INSTANTIATE_TEST_SUITE_P(LosslessCodecs, ChunkRender, testing::Values("png ", "FFV1"),
                         [](const auto& info) { return info.param.substr(0, 3); });

}  // namespace
}  // namespace lumivane
