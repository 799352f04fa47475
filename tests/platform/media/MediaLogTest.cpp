// FFmpeg's messages reach standard error as the program's own log lines.
#include <gtest/gtest.h>

#include <regex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "platform/media/FFmpegHandles.h"
#include "platform/media/MediaLog.h"

namespace lumivane {
namespace {

// What one verbosity lets through of an error, a warning and an info line,
// each sent by an encoder's context as FFmpeg's code does.
std::string loggedAt(int verbosity) {
    AVCodecContextUPtr context(avcodec_alloc_context3(avcodec_find_encoder_by_name("dvvideo")));
    setMediaLogVerbosity(verbosity);
    testing::internal::CaptureStderr();
    av_log(context.get(), AV_LOG_ERROR, "frame size %dx%d ", 64, 48);
    av_log(context.get(), AV_LOG_ERROR, "is not valid\n");
    av_log(context.get(), AV_LOG_WARNING, "a warning\n");
    av_log(context.get(), AV_LOG_INFO, "some news\nand more\n");
    std::string text = testing::internal::GetCapturedStderr();
    setMediaLogVerbosity(0);
    return text;
}

TEST(MediaLog, FFmpegMessagesBecomeLogLinesAtTheChosenVerbosity) {
    struct Case {
        int verbosity;
        int lines;
        bool warning, info;
    };
    const Case cases[] = {{0, 1, false, false},
                          {1, 1, false, false},
                          {2, 2, true, false},
                          {3, 4, true, true},
                          {5, 4, true, true}};
    // "YYYY-MM-DD HH:MM:SS.mmm <program>[pid] message", one message a line.
    const std::regex logLine(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \S+\[\d+\] \[dvvideo\] .+)");
    for (const Case& c : cases) {
        SCOPED_TRACE("verbosity " + std::to_string(c.verbosity));
        const std::string text = loggedAt(c.verbosity);
        std::istringstream lines(text);
        std::string line;
        int count = 0;
        while (std::getline(lines, line)) {
            ++count;
            EXPECT_TRUE(std::regex_match(line, logLine)) << line;
        }
        EXPECT_EQ(count, c.lines) << text;
        EXPECT_NE(text.find("[dvvideo] frame size 64x48 is not valid\n"), std::string::npos)
            << "the pieces of one message make one line, without the object's address";
        EXPECT_EQ(text.find("a warning") != std::string::npos, c.warning) << text;
        EXPECT_EQ(text.find("and more") != std::string::npos, c.info) << text;
    }
}

}  // namespace
}  // namespace lumivane
