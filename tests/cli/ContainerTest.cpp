// The output's extension picks the container; what the renderer writes there
// is what ffprobe and ffmpeg read back.
#include <gtest/gtest.h>

#include <signal.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "MovieProbe.h"
#include "ProcessRunner.h"

namespace lumivane {
namespace {

using test::runProcess;

constexpr int kWidth = 64;
constexpr int kHeight = 64;  // SVT-AV1 takes no less
constexpr int kFrames = 12;  // at 12 frames per second: one second

std::string demo() {
    return std::string(LUMIVANE_SOURCE_DIR) + "/resources/compositions/demo.qtz";
}

std::vector<std::string> renderArguments(const std::string& codec, const std::string& output,
                                         const std::string& seconds,
                                         const std::string& rate = "12") {
    std::vector<std::string> arguments = {test::cliPath(),
                                          "-w",
                                          std::to_string(kWidth),
                                          "-h",
                                          std::to_string(kHeight),
                                          "-f",
                                          rate,
                                          "-d",
                                          seconds};
    if (!codec.empty()) arguments.insert(arguments.end(), {"-c", codec});
    arguments.insert(arguments.end(), {"-o", output, demo()});
    return arguments;
}

// One value ffprobe reports for the file's first video stream or its format.
std::string probe(const std::string& path, const std::string& entries) {
    auto probed = runProcess({"/usr/bin/ffprobe", "-v", "error", "-select_streams", "v:0",
                              "-show_entries", entries, "-of", "default=nw=1:nk=1", path});
    std::string value = probed.out;
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    return value;
}

// Every decoded frame's presentation time, in seconds.
std::vector<double> frameTimes(const std::string& path) {
    std::istringstream lines(probe(path, "frame=best_effort_timestamp_time"));
    std::vector<double> times;
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) times.push_back(std::atof(line.c_str()));
    return times;
}

// Each frame's start in seconds from an animated WebP's frame chunks (FFmpeg
// reads no animated WebP before 7.1).
std::vector<double> webpFrameTimes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    std::vector<double> times;
    double start = 0;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const auto byte = [&](size_t i) { return unsigned(static_cast<unsigned char>(bytes[i])); };
        const size_t size =
            byte(at + 4) | byte(at + 5) << 8 | byte(at + 6) << 16 | byte(at + 7) << 24;
        if (bytes.compare(at, 4, "ANMF") == 0 && at + 24 <= bytes.size()) {
            times.push_back(start);
            start += (byte(at + 20) | byte(at + 21) << 8 | byte(at + 22) << 16) / 1000.0;
        }
        at += 8 + size + (size & 1);
    }
    return times;
}

// The frames as 8-bit RGBA, decoded by ffmpeg, one for each in the file.
std::vector<unsigned char> rgba(const std::string& input) {
    auto decoded = runProcess({"/usr/bin/ffmpeg", "-v", "error", "-i", input, "-fps_mode",
                               "passthrough", "-f", "rawvideo", "-pix_fmt", "rgba", "-"});
    return {decoded.out.begin(), decoded.out.end()};
}

// Mean absolute difference of the colour channels of one frame.
double meanDifference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b,
                      int frame) {
    const size_t size = size_t(kWidth) * kHeight * 4;
    if (a.size() < (frame + 1) * size || b.size() < (frame + 1) * size) return 255;
    double sum = 0;
    for (size_t i = frame * size; i < (frame + 1) * size; ++i)
        if (i % 4 != 3) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / (size * 3 / 4);
}

struct ContainerCase {
    const char* name;
    const char* codec;
    const char* extension;
    const char* codecName;          // as ffprobe names it
    const char* formatName;         // ffprobe's demuxer
    const char* brand;              // the QuickTime family's major brand; "" for Matroska
    double tolerance;               // mean colour difference to the PNG frames; 0: not decoded
    double timeTolerance = 0.0005;  // GIF counts hundredths
};

class Containers : public ::testing::TestWithParam<ContainerCase> {
protected:
    static void SetUpTestSuite() {
        s_dir = new test::TempDir();
        // The same frames, lossless, one file each.
        auto png = runProcess(renderArguments("public.png", s_dir->file("png"), "1"),
                              test::withTimeout(120));
        ASSERT_EQ(png.status, 0) << png.err;
        s_reference = new std::vector<unsigned char>(rgba(s_dir->file("png/Image-%02d.png")));
    }
    static void TearDownTestSuite() {
        delete s_reference;
        delete s_dir;
    }
    static test::TempDir* s_dir;
    static std::vector<unsigned char>* s_reference;
};
test::TempDir* Containers::s_dir = nullptr;
std::vector<unsigned char>* Containers::s_reference = nullptr;

TEST_P(Containers, WritesTheContainerTheExtensionNames) {
    const ContainerCase& c = GetParam();
    const std::string movie = s_dir->file(std::string(c.name) + c.extension);
    auto rendered = runProcess(renderArguments(c.codec, movie, "1"), test::withTimeout(300));
    if (rendered.err.find("has no encoder for") != std::string::npos) GTEST_SKIP() << rendered.err;
    ASSERT_EQ(rendered.status, 0) << rendered.err;

    EXPECT_EQ(probe(movie, "format=format_name"), c.formatName);
    EXPECT_EQ(probe(movie, "format_tags=major_brand"), c.brand);
    EXPECT_EQ(probe(movie, "stream=codec_name"), c.codecName);
    const std::vector<double> times = c.tolerance > 0 ? frameTimes(movie) : webpFrameTimes(movie);
    ASSERT_EQ(times.size(), size_t(kFrames));
    for (int i = 0; i < kFrames; ++i)
        EXPECT_NEAR(times[i], i / 12.0, c.timeTolerance) << "frame " << i;
    if (std::string(c.brand) != "") {
        EXPECT_TRUE(test::isFinishedMovie(movie));
    }
    if (c.tolerance == 0) return;
    const std::vector<unsigned char> decoded = rgba(movie);
    EXPECT_LT(meanDifference(decoded, *s_reference, 0), c.tolerance);
    EXPECT_LT(meanDifference(decoded, *s_reference, kFrames - 1), c.tolerance);
}

constexpr const char* kQuickTime = "mov,mp4,m4a,3gp,3g2,mj2";
constexpr const char* kMatroska = "matroska,webm";

INSTANTIATE_TEST_SUITE_P(
    Table, Containers,
    ::testing::Values(ContainerCase{"QuickTimeH264", "avc1", ".mov", "h264", kQuickTime, "qt  ", 6},
                      ContainerCase{"NoExtension", "avc1", "", "h264", kQuickTime, "qt  ", 6},
                      ContainerCase{"Mp4H264", "avc1", ".mp4", "h264", kQuickTime, "isom", 6},
                      ContainerCase{"M4vHevc", "hvc1", ".m4v", "hevc", kQuickTime, "isom", 6},
                      ContainerCase{"Mp4Vp9", "vp09", ".mp4", "vp9", kQuickTime, "isom", 6},
                      ContainerCase{"MatroskaProRes", "ap4h", ".mkv", "prores", kMatroska, "", 3},
                      ContainerCase{"MatroskaAv1", "av01", ".MKV", "av1", kMatroska, "", 6},
                      ContainerCase{"WebmVp9", "vp09", ".webm", "vp9", kMatroska, "", 6},
                      ContainerCase{"WebmAv1", "av01", ".webm", "av1", kMatroska, "", 6},
                      // No -c: the picture's own codec.
                      ContainerCase{"Gif", "", ".gif", "gif", "gif", "", 8, 0.005},
                      ContainerCase{"WebP", "webp", ".webp", "webp", "webp_pipe", "", 0, 0.001}),
    [](const auto& info) { return std::string(info.param.name); });

int frameLines(const std::string& out) {
    int count = 0;
    for (size_t at = 0; (at = out.find("Frame ", at)) != std::string::npos; ++at) ++count;
    return count;
}

struct StopCase {
    const char* name;
    const char* codec;
    const char* extension;
    int signalNumber;
    int atFrame;  // after this frame's console line
};

class ContainerStops : public ::testing::TestWithParam<StopCase> {
protected:
    test::TempDir m_dir;
};

// A stop finishes the file with every frame reported; a kill keeps what the
// fragments (clusters) written so far hold, still decodable.
TEST_P(ContainerStops, KeepFramesInTheirContainer) {
    const StopCase& c = GetParam();
    const std::string movie = m_dir.file(std::string("stopped") + c.extension);
    auto arguments = renderArguments(c.codec, movie, "600");
    arguments.insert(arguments.begin() + 1, "-vv");
    test::ChildProcess cli(arguments, m_dir.file("stderr.txt"));
    ASSERT_TRUE(cli.waitForLine("Frame " + std::to_string(c.atFrame) + " of", 120)) << cli.out();
    cli.signal(c.signalNumber);
    const int status = cli.wait();
    const int reported = frameLines(cli.out());
    const std::string extension = c.extension;
    // A GIF is built at the finish; a kill leaves the frames kept for it.
    const std::string kept = movie + ".frames.mkv";
    const int decoded =
        test::decodedFrames(extension == ".gif" && c.signalNumber == SIGKILL ? kept : movie);
    EXPECT_EQ(std::filesystem::exists(kept), c.signalNumber == SIGKILL && extension == ".gif");
    if (c.signalNumber == SIGKILL) {
        EXPECT_EQ(status, 128 + SIGKILL);
        // VP9 holds back up to 25 frames to look ahead, a cluster up to a second.
        EXPECT_GE(decoded, 12) << "a second's cluster at least was on disk";
        EXPECT_LE(decoded, reported);
        return;
    }
    EXPECT_EQ(status, 0);
    EXPECT_EQ(decoded, reported);
    if (extension == ".mp4") {
        EXPECT_TRUE(test::isFinishedMovie(movie));
    }
    // A finished Matroska file knows its length without reading every cluster.
    EXPECT_NEAR(std::atof(probe(movie, "format=duration").c_str()), reported / 12.0, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Table, ContainerStops,
                         ::testing::Values(StopCase{"Mp4Terminate", "avc1", ".mp4", SIGTERM, 40},
                                           StopCase{"WebmInterrupt", "vp09", ".webm", SIGINT, 40},
                                           StopCase{"MatroskaHangup", "avc1", ".mkv", SIGHUP, 40},
                                           StopCase{"WebmKill", "vp09", ".webm", SIGKILL, 120},
                                           StopCase{"GifTerminate", "gif ", ".gif", SIGTERM, 40},
                                           StopCase{"GifKill", "gif ", ".gif", SIGKILL, 40}),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusalCase {
    const char* name;
    const char* codec;
    const char* output;
    const char* why;    // what the message says
    const char* names;  // a container the message offers
    const char* rate = "12";
};

class ContainerRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ContainerRefusals, RefuseAtTheStartAndWriteNothing) {
    const RefusalCase& c = GetParam();
    test::TempDir dir;
    const std::string movie = dir.file(c.output);
    auto refused = runProcess(renderArguments(c.codec, movie, "1", c.rate), test::withTimeout(60));
    EXPECT_EQ(refused.status, 255);
    EXPECT_NE(refused.err.find(c.why), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find(c.names), std::string::npos) << refused.err;
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ContainerRefusals,
    ::testing::Values(
        RefusalCase{"Vp9InQuickTime", "vp09", "out.mov", "Codec 'vp09' cannot go in",
                    "WebM (.webm)"},
        RefusalCase{"Av1WithoutExtension", "av01", "out", "Codec 'av01' cannot go in",
                    "MP4 (.mp4, .m4v)"},
        RefusalCase{"H264InWebm", "avc1", "out.webm", "Codec 'avc1' cannot go in",
                    "Matroska (.mkv)"},
        RefusalCase{"ProResInWebm", "apch", "out.webm", "Codec 'apch' cannot go in",
                    "QuickTime (.mov)"},
        RefusalCase{"AnimationInMp4", "rle ", "out.mp4", "Codec 'rle ' cannot go in",
                    "QuickTime (.mov)"},
        RefusalCase{"TenBitProResInGif", "ap4h", "out.gif", "Codec 'ap4h' cannot go in",
                    "GIF takes 'gif '"},
        RefusalCase{"H264InWebP", "avc1", "out.webp", "cannot go in a WebP", "WebP takes 'webp'"},
        RefusalCase{"GifFasterThanBrowsersPlay", "", "out.gif", "at most, not 60", "-f", "60"},
        RefusalCase{"AviIsNoFormatWeWrite", "avc1", "out.avi", "names AVI", "MP4 (.mp4, .m4v)"},
        RefusalCase{"PngIsNoMovie", "avc1", "out.png", "which is not written here", "GIF (.gif)"}),
    [](const auto& info) { return std::string(info.param.name); });

// "-c help" with -o lists only what that container takes.
TEST(ContainerCodecList, FollowsTheOutput) {
    auto all = runProcess({test::cliPath(), "-c", "help"});
    auto webm = runProcess({test::cliPath(), "-c", "help", "-o", "clip.webm"});
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(webm.status, 0);
    for (const char* heading : {"Available codecs:\n", "Available codecs in MP4 movies",
                                "Available codecs in WebM movies"})
        EXPECT_NE(all.out.find(heading), std::string::npos) << heading;
    EXPECT_EQ(webm.out.find("Available codecs in"), std::string::npos);
    EXPECT_NE(webm.out.find("\"vp09\""), std::string::npos);
    EXPECT_EQ(webm.out.find("\"avc1\""), std::string::npos);
    EXPECT_NE(webm.out.find("\"public.png\""), std::string::npos);
}

}  // namespace
}  // namespace lumivane
