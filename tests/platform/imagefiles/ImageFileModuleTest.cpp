// OpenImageIO lives in a module loaded on the first image: a movie render never
// maps it, an image sequence still writes, and a renderer without the module
// says so instead of crashing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ProcessRunner.h"
#include "platform/imagefiles/ImageFileLibrary.h"

namespace lumivane {
namespace {

namespace fs = std::filesystem;

constexpr const char* kComposition = R"(/*{ "INPUTS": [] }*/
void main() { gl_FragColor = vec4(isf_FragNormCoord, 0.5, 0.75); }
)";

struct Render {
    test::ProcessResult result;
    std::string output;
};

// Renders two frames with the dynamic loader naming every object it loads.
Render render(const test::TempDir& dir, const std::string& cli, const std::string& codec,
              const std::string& output) {
    test::writeFile(dir.file("plain.qtz"), kComposition);
    test::ProcessOptions options;
    options.environment = {"LD_DEBUG=files"};
    Render run{{}, dir.file(output)};
    run.result = test::runProcess({cli, "-w", "32", "-h", "24", "-f", "2", "-d", "1", "-c", codec,
                                   "-o", run.output, dir.file("plain.qtz")},
                                  options);
    return run;
}

bool loadedOpenImageIO(const Render& run) {
    return run.result.err.find("libOpenImageIO") != std::string::npos;
}

TEST(ImageFileModule, ProgramsNeedNoOpenImageIOButTheModuleDoes) {
    const auto needed = [](const std::string& file) {
        return test::runShell("ldd " + test::shellQuoted(file)).output;
    };
    const std::string cli = needed(test::cliPath());
    ASSERT_NE(cli.find("libavcodec"), std::string::npos) << cli;
    EXPECT_EQ(cli.find("OpenImageIO"), std::string::npos) << cli;
    EXPECT_NE(needed(ImageFileLibrary::modulePath()).find("OpenImageIO"), std::string::npos);
}

// PNG and JPEG-2000 frames go through FFmpeg's encoders, linked already.
TEST(ImageFileModule, OnlyLibraryImageOutputLoadsOpenImageIO) {
    test::TempDir dir;
    const Render movie = render(dir, test::cliPath(), "avc1", "plain.mov");
    ASSERT_EQ(movie.result.status, 0) << movie.result.err.substr(0, 2000);
    EXPECT_FALSE(loadedOpenImageIO(movie));
    const Render png = render(dir, test::cliPath(), "public.png", "png");
    ASSERT_EQ(png.result.status, 0) << png.result.err.substr(0, 2000);
    EXPECT_FALSE(loadedOpenImageIO(png));
    EXPECT_TRUE(fs::is_regular_file(dir.file("png/Image-2.png")));
    const Render tiff = render(dir, test::cliPath(), "public.tiff", "tiff");
    ASSERT_EQ(tiff.result.status, 0) << tiff.result.err.substr(0, 2000);
    EXPECT_TRUE(loadedOpenImageIO(tiff));
    EXPECT_TRUE(fs::is_regular_file(dir.file("tiff/Image-1.tiff")));
    EXPECT_TRUE(fs::is_regular_file(dir.file("tiff/Image-2.tiff")));
}

// A copy of the renderer with no module beside it: movies still render, and an
// image sequence fails with the reason and leaves no file behind.
TEST(ImageFileModule, MissingModuleFailsImageOutputClearly) {
    test::TempDir dir;
    fs::create_directories(dir.file("bin"));
    const std::string cli = dir.file("bin/LumivaneCLI");
    fs::copy_file(test::cliPath(), cli);
    const Render movie = render(dir, cli, "avc1", "plain.mov");
    EXPECT_EQ(movie.result.status, 0) << movie.result.err.substr(0, 2000);
    const Render sequence = render(dir, cli, "public.tiff", "frames");
    EXPECT_EQ(sequence.result.status, 254);
    EXPECT_NE(sequence.result.err.find("image files cannot be read or written: "),
              std::string::npos);
    EXPECT_NE(sequence.result.err.find(dir.file("lib/lumivane/liblumivane_imagefiles.so")),
              std::string::npos);
    EXPECT_TRUE(fs::is_empty(dir.file("frames")));
}

TEST(ImageFileModule, WritesAndReadsBackStraightAlphaAndFloats) {
    test::TempDir dir;
    const std::vector<uint8_t> bytes = {255, 0, 0, 128, 0, 255, 0, 255, 0, 0, 255, 64, 9, 9, 9, 0};
    imagefiles::ImageToWrite image;
    image.width = 2;
    image.height = 2;
    image.channels = 4;
    image.samples = bytes.data();
    image.straightAlpha = true;
    ASSERT_TRUE(ImageFileLibrary::write(dir.file("a.png"), image));
    const auto accept = [](const imagefiles::ImageHeader&, std::string&) { return true; };
    auto png = ImageFileLibrary::read(dir.file("a.png"), accept);
    ASSERT_TRUE(png) << png.error();
    EXPECT_EQ(png->header.channels, 4);
    EXPECT_EQ(png->bytes, bytes);

    const std::vector<float> floats = {2.5f, 0.25f, 0.0f, 1.0f};
    image.width = image.height = 1;
    image.samples = floats.data();
    image.given = imagefiles::SampleType::Float;
    image.stored = imagefiles::SampleType::Half;
    image.linear = true;
    image.straightAlpha = false;
    ASSERT_TRUE(ImageFileLibrary::write(dir.file("a.exr"), image));
    auto exr = ImageFileLibrary::read(dir.file("a.exr"), accept);
    ASSERT_TRUE(exr) << exr.error();
    EXPECT_TRUE(exr->header.isFloat);
    EXPECT_EQ(exr->floats, floats);
}

TEST(ImageFileModule, ReadFailuresSayWhy) {
    test::TempDir dir;
    test::writeFile(dir.file("not.png"), "not an image");
    const auto accept = [](const imagefiles::ImageHeader&, std::string&) { return true; };
    EXPECT_FALSE(ImageFileLibrary::read(dir.file("not.png"), accept).error().empty());

    imagefiles::ImageToWrite image;
    const std::vector<uint8_t> grey = {1, 2, 3, 4, 5, 6};
    image.width = 3;
    image.height = 2;
    image.channels = 1;
    image.samples = grey.data();
    ASSERT_TRUE(ImageFileLibrary::write(dir.file("grey.png"), image));
    const auto refuse = [](const imagefiles::ImageHeader& header, std::string& why) {
        why = std::to_string(header.width) + "x" + std::to_string(header.height) + " refused";
        return false;
    };
    const auto refused = ImageFileLibrary::read(dir.file("grey.png"), refuse);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "3x2 refused");
}

}  // namespace
}  // namespace lumivane
