// LumivaneCLI end to end: frame times, pre-roll, supersampling, motion blur and
// published inputs, proven by the pixels of compositions written for the purpose.
#include <gtest/gtest.h>

#include <OpenImageIO/imagebuf.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "ProcessRunner.h"

namespace lumivane {
namespace {

namespace fs = std::filesystem;
using test::runProcess;

std::string dataFile(const std::string& name) {
    return std::string(LUMIVANE_SOURCE_DIR) + "/tests/cli/data/" + name;
}

struct Pixel {
    int r, g, b, a;
};

class RenderPipeline : public ::testing::Test {
protected:
    // Renders to a PNG sequence and returns the exit status.
    test::ProcessResult render(const std::string& composition, std::vector<std::string> options) {
        std::vector<std::string> argv = {
            test::cliPath(), "-w", "12", "-h", "8", "-c", "public.png", "-o", m_dir.file("frames")};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(dataFile(composition));
        auto result = runProcess(argv, test::withTimeout(120));
        EXPECT_FALSE(result.timedOut);
        return result;
    }

    std::vector<std::string> frames() const {
        std::vector<std::string> names;
        if (!fs::exists(m_dir.file("frames"))) return names;
        for (const auto& entry : fs::directory_iterator(m_dir.file("frames")))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // The pixel at (x, y) of frame `number` (from 1), 8 bits per channel.
    Pixel pixel(const std::string& name, int x = 0, int y = 0) const {
        OIIO::ImageBuf image(m_dir.file("frames/" + name));
        float values[4] = {0, 0, 0, 1};
        EXPECT_TRUE(image.read(0, 0, true, OIIO::TypeDesc::FLOAT)) << image.geterror();
        image.getpixel(x, y, values, 4);
        auto byte = [](float v) { return static_cast<int>(std::lround(v * 255.0f)); };
        return {byte(values[0]), byte(values[1]), byte(values[2]), byte(values[3])};
    }

    static int milliseconds(const Pixel& p) { return p.r + 256 * p.g; }

    test::TempDir m_dir;
};

TEST_F(RenderPipeline, FrameTimesFollowTheFrameRate) {
    auto result = render("timecode.qtz", {"-f", "29.97", "-d", "1"});
    ASSERT_EQ(result.status, 0) << result.err;
    auto names = frames();
    ASSERT_EQ(names.size(), 29u);  // 29.97 x 1 truncated
    EXPECT_EQ(names.front(), "Image-01.png");
    EXPECT_EQ(names.back(), "Image-29.png");
    for (int i = 0; i < 29; ++i) {
        Pixel p = pixel(names[static_cast<size_t>(i)]);
        EXPECT_EQ(milliseconds(p), std::lround(i * 1000.0 / 29.97)) << "frame " << i;
        EXPECT_EQ(p.b, i) << "one render per frame";
    }
}

TEST_F(RenderPipeline, StartTimePreRollsOnTheFrameGrid) {
    auto result = render("timecode.qtz", {"-f", "10", "-d", "0.3", "-s", "2"});
    ASSERT_EQ(result.status, 0) << result.err;
    auto names = frames();
    ASSERT_EQ(names.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        Pixel p = pixel(names[static_cast<size_t>(i)]);
        EXPECT_EQ(milliseconds(p), 2000 + 100 * i);
        // Twenty pre-roll renders (0, 0.1 ... 1.9) come before the first frame.
        EXPECT_EQ(p.b, 20 + i);
    }
}

TEST_F(RenderPipeline, TimeScaleStretchesCompositionTime) {
    auto result = render("timecode.qtz", {"-f", "10", "-d", "0.3", "-l", "2"});
    ASSERT_EQ(result.status, 0) << result.err;
    auto names = frames();
    ASSERT_EQ(names.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(milliseconds(pixel(names[static_cast<size_t>(i)])), 200 * i);
}

TEST_F(RenderPipeline, MotionBlurAveragesEvenlySpacedSamples) {
    auto result = render("ramp.qtz", {"-f", "10", "-d", "0.3", "-m", "4"});
    ASSERT_EQ(result.status, 0) << result.err;
    auto names = frames();
    ASSERT_EQ(names.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        // Samples at t, t + 0.025, t + 0.05, t + 0.075 of a ramp rising 2 per second.
        double mean = 0;
        for (int j = 0; j < 4; ++j) mean += std::fmod((0.1 * i + 0.025 * j) * 2.0, 1.0) / 4;
        Pixel p = pixel(names[static_cast<size_t>(i)]);
        EXPECT_NEAR(p.r, mean * 255, 1.5) << "frame " << i;
        // Four renders per frame: the blue channel averages the render counts.
        EXPECT_NEAR(p.b, 4 * i + 1.5, 1.0) << "frame " << i;
    }
}

// A discarded fragment keeps the sample before it, or the cleared frame when
// there is none: a sample of a composition that discards is drawn on the
// previous one, never apart from it.
TEST_F(RenderPipeline, MotionBlurSamplesThatDiscardKeepThePreviousSample) {
    auto result = render("partial.qtz", {"-f", "10", "-d", "0.2", "-m", "4"});
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(frames().size(), 2u);
    // Frame 1: red 0, 0.05, 0.1, 0.15; the left half keeps 0.05 for the last two.
    EXPECT_NEAR(pixel("Image-1.png", 11).r, 0.075 * 255, 1.0);
    EXPECT_NEAR(pixel("Image-1.png", 0).r, 0.0375 * 255, 1.0);
    // Frame 2 starts cleared and the left half never draws.
    EXPECT_NEAR(pixel("Image-2.png", 11).r, 0.275 * 255, 1.0);
    const Pixel left = pixel("Image-2.png", 0);
    EXPECT_EQ(left.r + left.a, 0);
}

TEST_F(RenderPipeline, MotionBlurWithStartTimeUsesTheSubframeStep) {
    auto result = render("timecode.qtz", {"-f", "10", "-d", "0.1", "-s", "0.1", "-m", "2"});
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(frames().size(), 1u);
    // Pre-roll every 0.05 s: renders at 0 and 0.05; the frame's samples are renders 2 and 3.
    EXPECT_NEAR(pixel("Image-1.png").b, 2.5, 1.0);
}

TEST_F(RenderPipeline, SupersamplingIsATrueBoxAverage) {
    auto plain = render("checker.qtz", {"-d", "0.034"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    int left = pixel("Image-1.png", 0, 0).r, right = pixel("Image-1.png", 1, 0).r;
    EXPECT_EQ(std::min(left, right), 0);
    EXPECT_EQ(std::max(left, right), 255);

    for (const char* aa : {"2", "4"}) {
        auto result = render("checker.qtz", {"-d", "0.034", "-a", aa});
        ASSERT_EQ(result.status, 0) << result.err;
        for (int x = 0; x < 12; ++x)
            EXPECT_NEAR(pixel("Image-1.png", x, 3).r, 127.5, 0.6) << "AA " << aa << " x " << x;
    }
    // An odd factor: each output pixel holds five of one colour and four of the other.
    auto odd = render("checker.qtz", {"-d", "0.034", "-a", "3"});
    ASSERT_EQ(odd.status, 0) << odd.err;
    int a = pixel("Image-1.png", 0, 0).r, b = pixel("Image-1.png", 1, 0).r;
    EXPECT_NEAR(std::min(a, b), 4 * 255 / 9.0, 1.0);
    EXPECT_NEAR(std::max(a, b), 5 * 255 / 9.0, 1.0);
}

TEST_F(RenderPipeline, PublishedInputsConvertByPortType) {
    auto result =
        render("inputs.qtz", {"-w", "30",          "-d", "0.034",           "-a", "2",
                              "-m", "3",           "-p", "level=0.5",       "-p", "mode=3.9",
                              "-p", "flag=yes",    "-p", "tint=1,1,1",      "-p", "nosuchinput=7",
                              "-p", "label=hello", "-p", "LumivaneRender=0"});
    ASSERT_EQ(result.status, 0) << result.err;
    Pixel converted = pixel("Image-1.png", 2, 4);
    EXPECT_NEAR(converted.r, 128, 1);  // 0.5
    EXPECT_NEAR(converted.g, 191, 1);  // "3.9" as an index is 3, shown as 3/4
    EXPECT_EQ(converted.b, 255);       // "yes" is true
    Pixel tint = pixel("Image-1.png", 15, 4);
    EXPECT_NEAR(tint.r, 64, 1) << "a colour input is not set from text";
    EXPECT_NEAR(tint.g, 128, 1);
    Pixel fixed = pixel("Image-1.png", 27, 4);
    EXPECT_EQ(fixed.r, 255) << "the fixed input overrides the user's value";
    EXPECT_NEAR(fixed.g, 128, 1);  // LumivaneAntialias = 1 / AA
    EXPECT_NEAR(fixed.b, 64, 1);   // LumivaneMotionBlur = 2, shown as 2/8
}

// A picture whose every pixel differs, written where the renderer runs.
void writePicture(const std::string& path, int width, int height) {
    OIIO::ImageBuf picture(OIIO::ImageSpec(width, height, 3, OIIO::TypeDesc::UINT8));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float rgb[3] = {x * 20 / 255.0f, y * 30 / 255.0f, (x * 7 + y * 11) / 255.0f};
            picture.setpixel(x, y, rgb, 3);
        }
    }
    ASSERT_TRUE(picture.write(path)) << picture.geterror();
}

TEST_F(RenderPipeline, ImageInputsTakeAFileFromTheWorkingDirectory) {
    writePicture(m_dir.file("photo.png"), 12, 8);
    writePicture(m_dir.file("wide.png"), 30, 20);
    test::writeFile(m_dir.file("empty.png"), "");
    test::writeFile(m_dir.file("garbage.png"), std::string(4096, '\x5a'));
    fs::create_directory(m_dir.file("folder.png"));
    ASSERT_EQ(runProcess({"/usr/bin/ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                          "sine=duration=0.2", m_dir.file("tone.wav")})
                  .status,
              0);
    test::ProcessOptions inDir = test::withTimeout(120);
    inDir.workingDirectory = m_dir.path();
    const auto run = [&](const std::string& value, const std::string& show) {
        return runProcess(
            {test::cliPath(), "-w", "12", "-h", "8", "-d", "0.034", "-c", "public.png", "-o",
             "frames", "-p", "inputImage=" + value, "-p", "show=" + show, dataFile("filter.qtz")},
            inDir);
    };

    auto through = run("photo.png", "0");
    ASSERT_EQ(through.status, 0) << through.err;
    for (auto [x, y] : {std::pair{0, 0}, {11, 0}, {5, 3}, {0, 7}, {11, 7}}) {
        Pixel p = pixel("Image-1.png", x, y);
        EXPECT_NEAR(p.r, x * 20, 1) << x << "," << y;
        EXPECT_NEAR(p.g, y * 30, 1) << x << "," << y;
        EXPECT_NEAR(p.b, x * 7 + y * 11, 1) << x << "," << y;
    }
    // The image's own size, not the render's.
    ASSERT_EQ(run("wide.png", "1").status, 0);
    Pixel sizes = pixel("Image-1.png");
    EXPECT_EQ(std::vector<int>({sizes.r, sizes.g, sizes.b}), std::vector<int>({30, 20, 30}));
    ASSERT_EQ(run("wide.png", "2").status, 0);
    Pixel rect = pixel("Image-1.png");
    EXPECT_EQ(std::vector<int>({rect.r, rect.g, rect.b}), std::vector<int>({20, 30, 20}));
    ASSERT_EQ(run("wide.png", "3").status, 0);
    Pixel stamp = pixel("Image-1.png");
    EXPECT_EQ(std::vector<int>({stamp.r, stamp.g, stamp.b}), std::vector<int>({3, 2, 3}))
        << "an imported image has the uniforms too";

    fs::remove_all(m_dir.file("frames"));
    const std::pair<const char*, const char*> bad[] = {
        {"missing.png", "\"missing.png\": no such file"},
        {"empty.png", "\"empty.png\": is empty"},
        {"garbage.png", "\"garbage.png\": "},
        {"folder.png", "\"folder.png\": is not a regular file but a directory"},
        {"tone.wav", "\"tone.wav\": has no video stream"},
        {"shots/frame-%04d.png", "\"shots/frame-%04d.png\": no file matches the pattern"},
    };
    for (auto [file, message] : bad) {
        auto refused = run(file, "0");
        EXPECT_EQ(refused.status, 254) << file;
        EXPECT_NE(refused.err.find(std::string("LumivaneCLI: ") + message), std::string::npos)
            << refused.err;
        EXPECT_FALSE(fs::exists(m_dir.file("frames"))) << file;
    }
}

// A source whose frame k shows k, as a movie and as an image sequence: each
// output frame must show the source frame whose interval holds its
// composition time, the last one held after the end unless it loops.
TEST_F(RenderPipeline, MovieInputsShowTheFrameAtEachTime) {
    const std::string movie = m_dir.file("counted.mov");
    const std::string sequence = m_dir.file("counted/Image-%02d.png");
    // Matroska's millisecond clock stores frame 2 of 30 a second at 67 ms.
    const std::string matroska = m_dir.file("counted30.mkv");
    for (auto [codec, path, rate] : {std::tuple{"FFV1", movie, "10"},
                                     {"public.png", m_dir.file("counted"), "10"},
                                     {"FFV1", matroska, "30"}}) {
        ASSERT_EQ(runProcess({test::cliPath(), "-w", "16", "-h", "8", "-f", rate, "-d", "1", "-c",
                              codec, "-o", path, dataFile("counters.qtz")})
                      .status,
                  0);
    }
    struct Case {
        std::string source;
        std::vector<std::string> options;
        std::vector<int> shown;
    };
    const Case cases[] = {
        {movie, {"-f", "10", "-d", "1.2"}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 9}},
        {movie, {"-f", "20", "-d", "0.5"}, {0, 0, 1, 1, 2, 2, 3, 3, 4, 4}},
        {movie, {"-f", "7", "-d", "1"}, {0, 1, 2, 4, 5, 7, 8}},
        {movie, {"-f", "10", "-d", "0.3", "-s", "0.35", "-l", "0.5"}, {3, 4, 4}},
        {movie, {"-f", "10", "-d", "0.4", "-s", "0.9", "-l", "-1"}, {9, 8, 7, 6}},
        {movie, {"-f", "10", "-d", "1", "--frames", "5-7"}, {4, 5, 6}},
        {movie,
         {"-f", "10", "-d", "1.3", "-p", "inputImage.loop=1"},
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1, 2}},
        {movie,
         {"-f", "10", "-d", "0.4", "-s", "0.1", "-l", "-1", "-p", "inputImage.loop=1"},
         {1, 0, 9, 8}},
        {matroska, {"-f", "30", "-d", "0.3"}, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
        // FFmpeg's 25 a second unless told.
        {sequence, {"-f", "25", "-d", "0.48"}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 9}},
        {sequence,
         {"-f", "20", "-d", "0.3", "-s", "0.8", "-p", "inputImage.rate=10"},
         {8, 8, 9, 9, 9, 9}},
    };
    for (const Case& c : cases) {
        fs::remove_all(m_dir.file("frames"));
        std::vector<std::string> options = c.options;
        options.insert(options.end(), {"-p", "inputImage=" + c.source});
        const std::string name =
            fs::path(c.source).filename().string() + " " + c.options[1] + " " + c.options.back();
        ASSERT_EQ(render("filter.qtz", options).status, 0) << name;
        std::vector<int> shown;
        for (const std::string& frame : frames())
            if (frame.front() != '.') shown.push_back(pixel(frame).r);
        EXPECT_EQ(shown, c.shown) << name;
    }
}

// ProRes 4444 with alpha, tagged BT.709: through a filter, every pixel is the
// filter applied to what FFmpeg's own player decodes, within 1/255, alpha kept.
TEST_F(RenderPipeline, AlphaMovieKeepsItsColoursThroughAFilter) {
    const int width = 32, height = 16;
    // PNG alpha as it is stored, never multiplied in.
    OIIO::ImageSpec straight(width, height, 4, OIIO::TypeDesc::UINT8);
    straight.attribute("oiio:UnassociatedAlpha", 1);
    OIIO::ImageBuf picture(straight);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float rgba[4] = {x / 31.0f, y / 15.0f, (x + y) % 7 / 6.0f, (40 + 6 * x) / 255.0f};
            picture.setpixel(x, y, rgba, 4);
        }
    }
    ASSERT_TRUE(picture.write(m_dir.file("plate.png")));
    const std::string source = m_dir.file("plate.mov");
    ASSERT_EQ(runProcess({"/usr/bin/ffmpeg", "-v", "error", "-i", m_dir.file("plate.png"), "-vf",
                          "scale=out_color_matrix=bt709:out_range=tv,format=yuva444p10le,"
                          "setparams=colorspace=bt709:range=tv",
                          "-c:v", "prores_ks", "-profile:v", "4444", source})
                  .status,
              0);
    auto decoded =
        runProcess({"/usr/bin/ffmpeg", "-v", "error", "-i", source, "-vf",
                    "scale=in_color_matrix=bt709:in_range=tv,format=rgba", "-f", "rawvideo", "-"});
    ASSERT_EQ(decoded.out.size(), size_t(width * height * 4)) << decoded.err;

    auto result = render("invert.qtz", {"-w", std::to_string(width), "-h", std::to_string(height),
                                        "-d", "0.034", "-p", "inputImage=" + source});
    ASSERT_EQ(result.status, 0) << result.err;
    OIIO::ImageBuf rendered(m_dir.file("frames/Image-1.png"), 0, 0, nullptr, &straight);
    std::vector<uint8_t> pixels(size_t(width * height * 4));
    ASSERT_TRUE(rendered.get_pixels(OIIO::ROI(0, width, 0, height, 0, 1, 0, 4),
                                    OIIO::TypeDesc::UINT8, pixels.data()))
        << rendered.geterror();
    int worst = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t at = 4 * size_t(y * width + x);
            const auto* expected = reinterpret_cast<const uint8_t*>(decoded.out.data()) + at;
            const uint8_t* got = pixels.data() + at;
            for (int c = 0; c < 4; ++c) {
                const int want = c < 3 ? 255 - expected[c] : expected[c];
                worst = std::max(worst, std::abs(got[c] - want));
                EXPECT_NEAR(got[c], want, 1) << x << "," << y << " channel " << c;
            }
        }
    }
    RecordProperty("worst", worst);
}

// A 10-bit grey ramp one code a pixel (a third of an 8-bit step) into float
// frames: each pixel keeps its own value rather than 8 bits' nearest.
TEST_F(RenderPipeline, DeepSourcesKeepTheirPrecisionInFloatFrames) {
    const std::string source = m_dir.file("ramp.mkv");
    ASSERT_EQ(runProcess({"/usr/bin/ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                          "color=c=gray:s=64x2:d=0.1", "-vf",
                          "format=yuv444p10le,geq=lum='64+X':cb=512:cr=512,"
                          "setparams=colorspace=bt709:range=tv",
                          "-c:v", "ffv1", source})
                  .status,
              0);
    auto result = render("filter.qtz", {"-w", "64", "-h", "2", "-d", "0.034", "-c",
                                        "com.ilm.openexr-image", "-p", "inputImage=" + source});
    ASSERT_EQ(result.status, 0) << result.err;
    OIIO::ImageBuf frame(m_dir.file("frames/Image-1.exr"));
    ASSERT_TRUE(frame.read(0, 0, true, OIIO::TypeDesc::FLOAT)) << frame.geterror();
    // OpenEXR frames are linear; the ramp is sRGB-encoded.
    const auto encoded = [](float linear) {
        return linear <= 0.0031308f ? 12.92f * linear
                                    : 1.055f * std::pow(linear, 1 / 2.4f) - 0.055f;
    };
    for (int x = 0; x < 64; ++x) {
        float rgba[4] = {};
        frame.getpixel(x, 0, rgba, 4);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(encoded(rgba[c]), x / 876.0f, 1 / 2000.0f) << x << " channel " << c;
    }
}

TEST_F(RenderPipeline, DurationShorterThanAFrameRendersNothing) {
    auto result = render("timecode.qtz", {"-d", "0.01", "-v"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(fs::is_directory(m_dir.file("frames")));
    EXPECT_TRUE(frames().empty());
    EXPECT_NE(result.err.find("Render Settings:"), std::string::npos);
}

TEST_F(RenderPipeline, ConsoleLinesFollowTheVerbosity) {
    auto frameLines = render("ramp.qtz", {"-f", "10", "-d", "0.3", "-m", "4", "-vv"});
    ASSERT_EQ(frameLines.status, 0);
    EXPECT_EQ(frameLines.out,
              "Frame 1 of 3 (0.000%)\nFrame 2 of 3 (33.333%)\nFrame 3 of 3 (66.667%)\n");

    auto subframes = render("ramp.qtz", {"-f", "10", "-d", "0.1", "-m", "4", "-vvv"});
    ASSERT_EQ(subframes.status, 0);
    EXPECT_EQ(subframes.out,
              "Frame 1 of 1 (0.000%)\n   * subframe 1/4\n   * subframe 2/4\n"
              "   * subframe 3/4\n   * subframe 4/4\n");

    auto noBlur = render("ramp.qtz", {"-f", "10", "-d", "0.1", "-vvv"});
    EXPECT_EQ(noBlur.out, "Frame 1 of 1 (0.000%)\n");
}

TEST_F(RenderPipeline, FailuresReportTheirLines) {
    test::writeFile(m_dir.file("broken.qtz"), "/*{ \"INPUTS\": [ }*/ void main() {}");
    auto broken =
        runProcess({test::cliPath(), "-o", m_dir.file("x.mov"), m_dir.file("broken.qtz")});
    EXPECT_EQ(broken.status, 254);
    EXPECT_NE(broken.err.find("LumivaneCLI: Failed to load composition [" +
                              m_dir.file("broken.qtz") + "]"),
              std::string::npos);
    EXPECT_NE(broken.err.find("broken.qtz"), std::string::npos);

    auto huge = render("checker.qtz", {"-w", "100000", "-h", "100000", "-d", "0.034"});
    EXPECT_EQ(huge.status, 254);
    EXPECT_NE(huge.err.find("LumivaneCLI: Failed to create QC Renderer"), std::string::npos);

    test::writeFile(m_dir.file("plainfile"), "x");
    auto inTheWay = runProcess({test::cliPath(), "-c", "public.png", "-d", "0.1", "-o",
                                m_dir.file("plainfile"), dataFile("ramp.qtz")});
    EXPECT_EQ(inTheWay.status, 254);
    EXPECT_NE(inTheWay.err.find(
                  "LumivaneCLI: Failed to create sequence path -- directory is in use perhaps?"),
              std::string::npos);
    EXPECT_EQ(test::readFile(m_dir.file("plainfile")), "x");
}

}  // namespace
}  // namespace lumivane
