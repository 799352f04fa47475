// Frames written on threads of their own while the next one renders: the
// output is the same, byte for byte, as when every frame is written on the
// render thread in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "ProcessRunner.h"

namespace lumivane {
namespace {

namespace fs = std::filesystem;

struct PipelineCase {
    const char* name;
    const char* codec;
    const char* output;  // a movie file or a sequence directory
    const char* quality = "3";
};

void PrintTo(const PipelineCase& pipeline, std::ostream* out) {
    *out << pipeline.name;
}

// Every file under `path` with its contents, or the file itself, unnamed.
// (OpenEXR files carry the time they were written, so they never compare.)
std::vector<std::pair<std::string, std::string>> contents(const fs::path& path) {
    std::vector<std::pair<std::string, std::string>> files;
    if (fs::is_regular_file(path)) {
        files.emplace_back("", test::readFile(path));
        return files;
    }
    for (const auto& entry : fs::directory_iterator(path))
        files.emplace_back(entry.path().filename(), test::readFile(entry.path()));
    std::sort(files.begin(), files.end());
    return files;
}

class OutputPipeline : public ::testing::TestWithParam<PipelineCase> {};

TEST_P(OutputPipeline, OverlappedOutputEqualsTheSerialOne) {
    test::TempDir dir;
    const std::string demo = std::string(LUMIVANE_SOURCE_DIR) + "/resources/compositions/demo.qtz";
    auto render = [&](const std::string& place, bool serial) {
        test::ProcessOptions options = test::withTimeout(120);
        if (serial) options.environment.push_back("LUMIVANE_OUTPUT_THREADS=0");
        return test::runProcess(
            {test::cliPath(), "-w", "96", "-h", "64", "-d", "2", "-c", GetParam().codec, "-q",
             GetParam().quality, "-o", dir.file(place), demo},
            options);
    };
    const std::string output = GetParam().output;
    auto serial = render("serial-" + output, true);
    auto overlapped = render("overlapped-" + output, false);
    ASSERT_EQ(serial.status, 0) << serial.err;
    ASSERT_EQ(overlapped.status, 0) << overlapped.err;
    auto expected = contents(dir.file("serial-" + output));
    auto actual = contents(dir.file("overlapped-" + output));
    ASSERT_EQ(expected.size(), fs::is_directory(dir.file("serial-" + output)) ? 60u : 1u);
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i].first, expected[i].first);
        EXPECT_TRUE(actual[i].second == expected[i].second) << expected[i].first << " differs";
    }
}

// What ffmpeg, as an independent reader, decodes from an image file.
struct Decoded {
    std::string pixelFormat;
    std::string rgb;  // the pixels as 8-bit RGB
};

Decoded decode(const std::string& file) {
    const std::string quoted = test::shellQuoted(file);
    return {
        test::runShell("ffprobe -v error -show_entries stream=pix_fmt -of csv=p=0 " + quoted)
            .output,
        test::runShell("ffmpeg -v error -i " + quoted + " -f rawvideo -pix_fmt rgb24 -").output};
}

// --opaque leaves the alpha channel out and nothing else: the demo covers
// every pixel, so the colours are the render's own.
TEST(OutputPipeline, OpaqueFramesAreTheRenderWithoutAlpha) {
    test::TempDir dir;
    const std::string demo = std::string(LUMIVANE_SOURCE_DIR) + "/resources/compositions/demo.qtz";
    for (const auto& [codec, extension] :
         {std::pair{"public.png", "png"}, {"public.tiff", "tiff"}}) {
        SCOPED_TRACE(codec);
        for (const bool opaque : {false, true}) {
            std::vector<std::string> arguments = {
                test::cliPath(),
                "-w",
                "48",
                "-h",
                "32",
                "-d",
                "0.1",
                "-q",
                "0",
                "-c",
                codec,
                "-o",
                dir.file(std::string(extension) + (opaque ? "-opaque" : "-alpha")),
                demo};
            if (opaque) arguments.insert(arguments.begin() + 1, "--opaque");
            auto run = test::runProcess(arguments, test::withTimeout(120));
            ASSERT_EQ(run.status, 0) << run.err;
        }
        const std::string name = std::string("/Image-3.") + extension;
        const Decoded alpha = decode(dir.file(std::string(extension) + "-alpha") + name);
        const Decoded opaque = decode(dir.file(std::string(extension) + "-opaque") + name);
        EXPECT_EQ(alpha.pixelFormat, "rgba\n");
        EXPECT_EQ(opaque.pixelFormat, "rgb24\n");
        ASSERT_EQ(opaque.rgb.size(), 48u * 32u * 3u);
        EXPECT_TRUE(opaque.rgb == alpha.rgb);
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, OutputPipeline,
                         // x264's lossy levels read memory it never wrote, so their
                         // bytes follow which thread's heap it got, not the frames
                         // alone; its lossless level shows the frames exactly.
                         ::testing::Values(PipelineCase{"H264Movie", "avc1", "movie.mov", "5"},
                                           PipelineCase{"ProResMovie", "apcn", "movie.mov"},
                                           PipelineCase{"PngSequence", "public.png", "frames"},
                                           PipelineCase{"JpegSequence", "public.jpeg", "frames"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumivane
