#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>

#include <OpenImageIO/imageio.h>

#include "MediaTestSupport.h"
#include "ProcessRunner.h"
#include "platform/media/ImageSequence.h"
#include "platform/media/Jpeg2000Encoder.h"

namespace lumivane {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

struct ReadBack {
    OIIO::ImageSpec spec;
    std::vector<float> pixels;  // as stored, converted to float
};

ReadBack readImage(const std::string& path) {
    ReadBack result;
    auto input = OIIO::ImageInput::open(path);
    if (!input) return result;
    result.spec = input->spec();
    // Straight alpha as stored, for the formats that store it so.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    input->close();
    input = OIIO::ImageInput::open(path, &config);
    result.pixels.resize(size_t(result.spec.width) * result.spec.height * result.spec.nchannels);
    input->read_image(0, 0, 0, result.spec.nchannels, OIIO::TypeDesc::FLOAT, result.pixels.data());
    return result;
}

std::set<std::string> fileNames(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
        names.insert(entry.path().filename());
    return names;
}

TEST(ImageSequence, TypesAreMatchedExactly) {
    EXPECT_EQ(imageSequenceExtension("public.jpeg"), "jpg");
    EXPECT_EQ(imageSequenceExtension("public.jpeg-2000"), "jp2");
    EXPECT_EQ(imageSequenceExtension("public.png"), "png");
    EXPECT_EQ(imageSequenceExtension("public.tiff"), "tiff");
    EXPECT_EQ(imageSequenceExtension("com.ilm.openexr-image"), "exr");
    for (const char* movie :
         {"avc1", "public.PNG", "Public.png", "public.png ", "public.jpg", ""}) {
        EXPECT_FALSE(isImageSequenceType(movie)) << movie;
    }
}

TEST(ImageSequence, DigitCountIsTheDigitsOfTheFrameCount) {
    EXPECT_EQ(sequenceDigitCount(1), 1);
    EXPECT_EQ(sequenceDigitCount(9), 1);
    EXPECT_EQ(sequenceDigitCount(10), 2);
    EXPECT_EQ(sequenceDigitCount(99), 2);
    EXPECT_EQ(sequenceDigitCount(300), 3);
    EXPECT_EQ(sequenceDigitCount(1000), 4);
    EXPECT_EQ(sequenceDigitCount(0), 1);
    EXPECT_EQ(sequenceDigitCount(-5), 1);
}

TEST(ImageSequence, FramesAreNamedFromOneWithTheDigitsOfN) {
    TempDir scratch;
    const std::string dir = scratch.file("seq");
    auto nine = ImageSequenceWriter::open(dir, "public.png", 9, 3);
    ASSERT_TRUE(nine) << nine.error();
    EXPECT_EQ((*nine)->pathForFrame(0), dir + "/Image-1.png");
    EXPECT_EQ((*nine)->pathForFrame(8), dir + "/Image-9.png");
    auto thousand = ImageSequenceWriter::open(dir, "public.tiff", 1000, 3);
    ASSERT_TRUE(thousand);
    EXPECT_EQ((*thousand)->pathForFrame(0), dir + "/Image-0001.tiff");
    EXPECT_EQ((*thousand)->pathForFrame(999), dir + "/Image-1000.tiff");

    auto ten = ImageSequenceWriter::open(dir, "public.png", 10, 3);
    ASSERT_TRUE(ten);
    for (int i = 0; i < 10; ++i) ASSERT_TRUE((*ten)->writeFrame(i, test::gradientFrame(8, 8, i)));
    std::set<std::string> expected;
    for (int i = 1; i <= 10; ++i)
        expected.insert("Image-" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".png");
    EXPECT_EQ(fileNames(dir), expected) << "exactly the frames, no partial files left";
}

TEST(ImageSequence, DirectoryIsCreatedWithParentsOrReused) {
    TempDir scratch;
    const std::string nested = scratch.file("a/b/LumivaneRender.mov");
    ASSERT_TRUE(ImageSequenceWriter::open(nested, "public.jpeg", 3, 3));
    EXPECT_TRUE(fs::is_directory(nested));
    std::ofstream(nested + "/keep.txt") << "x";
    ASSERT_TRUE(ImageSequenceWriter::open(nested, "public.jpeg", 3, 3));
    EXPECT_TRUE(fs::exists(nested + "/keep.txt"));
}

TEST(ImageSequence, PlainFileInTheWayFails) {
    TempDir scratch;
    const std::string file = scratch.file("LumivaneRender.mov");
    std::ofstream(file) << "not a directory";
    auto writer = ImageSequenceWriter::open(file, "public.png", 3, 3);
    ASSERT_FALSE(writer);
    EXPECT_EQ(writer.error().rfind("\"" + file + "\": ", 0), 0u) << writer.error();
    auto below = ImageSequenceWriter::open(file + "/sub", "public.png", 3, 3);
    EXPECT_FALSE(below);
}

TEST(ImageSequence, UnwritableFramePathIsAnError) {
    TempDir scratch;
    const std::string dir = scratch.file("seq");
    auto writer = ImageSequenceWriter::open(dir, "public.png", 3, 3);
    ASSERT_TRUE(writer);
    // Something that is not a file already holds the frame's name.
    fs::create_directory((*writer)->pathForFrame(0));
    auto blocked = (*writer)->writeFrame(0, test::gradientFrame(8, 8, 0));
    ASSERT_FALSE(blocked);
    EXPECT_EQ(blocked.error().rfind("\"" + (*writer)->pathForFrame(0) + "\": ", 0), 0u)
        << blocked.error();
    EXPECT_TRUE(fs::is_directory((*writer)->pathForFrame(0)));
    EXPECT_EQ(fileNames(dir).size(), 1u) << "the partial file is cleaned up";

    // The directory is gone from under the writer.
    fs::remove_all(dir);
    auto gone = (*writer)->writeFrame(1, test::gradientFrame(8, 8, 1));
    ASSERT_FALSE(gone);
    EXPECT_NE(gone.error().find("Image-2.png"), std::string::npos) << gone.error();

    EXPECT_FALSE((*writer)->writeFrame(2, ImageRGBA8{8, 8, std::vector<uint8_t>(10)}));
}

TEST(ImageSequence, PngAndTiffKeepStraightAlphaExactly) {
    TempDir scratch;
    const ImageRGBA8 frame = test::gradientFrame(16, 8, 2, true);
    for (const char* type : {"public.png", "public.tiff"}) {
        auto writer = ImageSequenceWriter::open(scratch.path(), type, 1, 3);
        ASSERT_TRUE(writer);
        ASSERT_TRUE((*writer)->writeFrame(0, frame));
        const ReadBack image = readImage((*writer)->pathForFrame(0));
        ASSERT_EQ(image.spec.width, 16) << type;
        ASSERT_EQ(image.spec.height, 8);
        ASSERT_EQ(image.spec.nchannels, 4);
        EXPECT_EQ(image.spec.format, OIIO::TypeDesc::UINT8);
        int largest = 0;
        for (size_t i = 0; i < frame.pixels.size(); ++i) {
            // A fully transparent pixel has no colour worth comparing.
            if (frame.pixels[i - i % 4 + 3] == 0 && i % 4 != 3) continue;
            largest = std::max(largest,
                               std::abs(int(std::lround(image.pixels[i] * 255)) - frame.pixels[i]));
        }
        EXPECT_EQ(largest, 0) << type;
    }
}

TEST(ImageSequence, JpegAndJpeg2000FlattenOverBlack) {
    TempDir scratch;
    // 32 pixels a side: six wavelet levels.
    const ImageRGBA8 frame = test::solidFrame(32, 32, {200, 100, 50, 128});
    for (const char* type : {"public.jpeg", "public.jpeg-2000"}) {
        auto writer = ImageSequenceWriter::open(scratch.path(), type, 1, 5);
        ASSERT_TRUE(writer);
        auto written = (*writer)->writeFrame(0, frame);
        ASSERT_TRUE(written) << written.error();
        const ReadBack image = readImage((*writer)->pathForFrame(0));
        ASSERT_EQ(image.spec.nchannels, 3) << type;
        const size_t centre = (16 * 32 + 16) * 3;
        EXPECT_NEAR(image.pixels[centre] * 255, 100, 3) << type;
        EXPECT_NEAR(image.pixels[centre + 1] * 255, 50, 3) << type;
        EXPECT_NEAR(image.pixels[centre + 2] * 255, 25, 3) << type;
    }
}

TEST(ImageSequence, Jpeg2000FramesBelowThirtyTwoPixelsKeepEveryPixel) {
    // OpenJPEG refuses more wavelet levels than a side has halvings.
    const std::array<std::array<int, 2>, 5> sizes = {{{1, 1}, {7, 5}, {16, 16}, {31, 64}, {64, 2}}};
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        TempDir scratch;
        auto writer = ImageSequenceWriter::open(scratch.path(), "public.jpeg-2000", 1, 5);
        ASSERT_TRUE(writer);
        const ImageRGBA8 frame = test::gradientFrame(width, height, 2);
        auto written = (*writer)->writeFrame(0, frame);
        ASSERT_TRUE(written) << written.error();
        EXPECT_EQ(fileNames(scratch.path()), std::set<std::string>{"Image-1.jp2"});
        const ReadBack image = readImage((*writer)->pathForFrame(0));
        ASSERT_EQ(image.spec.width, width);
        ASSERT_EQ(image.spec.height, height);
        ASSERT_EQ(image.spec.nchannels, 3);
        for (size_t i = 0, o = 0; i < frame.pixels.size(); i += 4, o += 3) {
            for (int c = 0; c < 3; ++c) {
                ASSERT_NEAR(image.pixels[o + c] * 255, frame.pixels[i + c], 0.01) << i / 4;
            }
        }
    }
    EXPECT_EQ(jpeg2000ResolutionLevels(1, 1), 1);
    EXPECT_EQ(jpeg2000ResolutionLevels(16, 40), 5);
    EXPECT_EQ(jpeg2000ResolutionLevels(4000, 4000), 6);
}

TEST(ImageSequence, JpegQualityFollowsTheLevel) {
    TempDir scratch;
    std::vector<uintmax_t> sizes;
    for (int quality : {0, 3, 5}) {
        const std::string dir = scratch.file("q" + std::to_string(quality));
        auto writer = ImageSequenceWriter::open(dir, "public.jpeg", 1, quality);
        ASSERT_TRUE(writer);
        ASSERT_TRUE((*writer)->writeFrame(0, test::gradientFrame(64, 64, 0)));
        sizes.push_back(fs::file_size((*writer)->pathForFrame(0)));
    }
    EXPECT_LT(sizes[0], sizes[1]);
    EXPECT_LT(sizes[1], sizes[2]);
}

TEST(ImageSequence, OpenExrHoldsLinearHalfFloatsAboveOne) {
    TempDir scratch;
    ImageRGBAF frame{2,
                     1,
                     {0.5f, 2.5f, 0.0f, 1.0f,    // opaque, one channel above 1.0
                      1.0f, 1.0f, 1.0f, 0.5f}};  // white at half coverage
    auto writer = ImageSequenceWriter::open(scratch.path(), "com.ilm.openexr-image", 1, 3);
    ASSERT_TRUE(writer);
    ASSERT_TRUE((*writer)->writeFrame(0, frame));
    const ReadBack image = readImage((*writer)->pathForFrame(0));
    ASSERT_EQ(image.spec.nchannels, 4);
    EXPECT_EQ(image.spec.format, OIIO::TypeDesc::HALF);
    EXPECT_NEAR(image.pixels[0], 0.2140, 1e-3);  // sRGB 0.5 decoded
    EXPECT_NEAR(image.pixels[1], std::pow((2.5 + 0.055) / 1.055, 2.4), 0.02);
    EXPECT_GT(image.pixels[1], 1.0f);
    EXPECT_FLOAT_EQ(image.pixels[3], 1.0f);
    // Associated alpha, as OpenEXR stores it.
    EXPECT_NEAR(image.pixels[4], 0.5, 1e-3);
    EXPECT_NEAR(image.pixels[7], 0.5, 1e-3);

    // 8-bit frames decode through the same curve.
    ImageRGBA8 bytes{1, 1, {128, 255, 0, 255}};
    ASSERT_TRUE((*writer)->writeFrame(0, bytes));
    const ReadBack fromBytes = readImage((*writer)->pathForFrame(0));
    EXPECT_NEAR(fromBytes.pixels[0], 0.2158, 1e-3);
    EXPECT_NEAR(fromBytes.pixels[1], 1.0, 1e-3);
}

TEST(ImageSequence, FloatFramesKeepSixteenBitsInPngAndTiff) {
    TempDir scratch;
    ImageRGBAF frame{1, 1, {0.25f, 1.5f, -0.5f, 1.0f}};
    auto writer = ImageSequenceWriter::open(scratch.path(), "public.png", 1, 3);
    ASSERT_TRUE(writer);
    ASSERT_TRUE((*writer)->writeFrame(0, frame));
    const ReadBack image = readImage((*writer)->pathForFrame(0));
    EXPECT_EQ(image.spec.format, OIIO::TypeDesc::UINT16);
    EXPECT_NEAR(image.pixels[0], 0.25, 1e-4);
    EXPECT_FLOAT_EQ(image.pixels[1], 1.0f);
    EXPECT_FLOAT_EQ(image.pixels[2], 0.0f);
}

// What a case expects to read back: the stored compression as OpenImageIO
// names it (empty: not checked), the channels, and how far the samples may
// be from the frame's (0: lossless, within the stored precision).
struct LevelCase {
    const char* type;
    int quality;
    bool opaque;
    const char* compression;
    int channels;
    double meanError;
};

const LevelCase kLevelCases[] = {
    {"public.png", 0, false, "", 4, 0},
    {"public.png", 1, false, "", 4, 0},
    {"public.png", 2, false, "", 4, 0},
    {"public.png", 3, false, "", 4, 0},
    {"public.png", 4, false, "", 4, 0},
    {"public.png", 5, false, "", 4, 0},
    {"public.png", 3, true, "", 3, 0},
    {"public.jpeg", 0, false, "", 3, 0.03},
    {"public.jpeg", 5, false, "", 3, 0.01},
    // A 64x48 frame at 50:1 keeps under 200 bytes.
    {"public.jpeg-2000", 0, false, "", 3, 0.12},
    {"public.jpeg-2000", 3, false, "", 3, 0.03},
    {"public.jpeg-2000", 5, false, "", 3, 0},
    {"public.tiff", 0, false, "none", 4, 0},
    {"public.tiff", 1, false, "lzw", 4, 0},
    {"public.tiff", 2, false, "zip", 4, 0},
    {"public.tiff", 5, false, "zip", 4, 0},
    {"public.tiff", 3, true, "zip", 3, 0},
    {"com.ilm.openexr-image", 0, false, "dwaa", 4, 0.02},
    {"com.ilm.openexr-image", 1, false, "none", 4, 0},
    {"com.ilm.openexr-image", 2, false, "rle", 4, 0},
    {"com.ilm.openexr-image", 3, false, "zip", 4, 0},
    {"com.ilm.openexr-image", 4, false, "piz", 4, 0},
    {"com.ilm.openexr-image", 5, false, "pxr24", 4, 0},
    {"com.ilm.openexr-image", 3, true, "zip", 3, 0},
};

float srgbDecoded(float value) {
    return value <= 0.04045f ? value / 12.92f : std::pow((value + 0.055f) / 1.055f, 2.4f);
}

// The frame as the file should hold it, computed here from the frame alone.
std::vector<float> expectedSamples(const ImageRGBA8& frame, bool exr, int channels) {
    std::vector<float> out;
    for (size_t i = 0; i < frame.pixels.size(); i += 4) {
        const float alpha = frame.pixels[i + 3] / 255.0f;
        for (int c = 0; c < 3; ++c) {
            const float value = frame.pixels[i + c] / 255.0f;
            if (exr) {
                out.push_back(srgbDecoded(value) * alpha);
            } else {
                out.push_back(channels == 4 ? value
                                            : std::round(frame.pixels[i + c] * alpha) / 255.0f);
            }
        }
        if (channels == 4) out.push_back(alpha);
    }
    return out;
}

TEST(ImageSequence, EachLevelWritesItsOwnSettingAndKeepsThePicture) {
    const ImageRGBA8 frame = test::gradientFrame(64, 48, 1, true);
    for (const LevelCase& c : kLevelCases) {
        SCOPED_TRACE(std::string(c.type) + " -q " + std::to_string(c.quality) +
                     (c.opaque ? " opaque" : ""));
        TempDir scratch;
        auto writer = ImageSequenceWriter::open(scratch.path(), c.type, 1,
                                                SequenceStyle{c.quality, c.opaque});
        ASSERT_TRUE(writer);
        auto written = (*writer)->writeFrame(0, frame);
        ASSERT_TRUE(written) << written.error();
        const ReadBack image = readImage((*writer)->pathForFrame(0));
        ASSERT_EQ(image.spec.width, 64);
        ASSERT_EQ(image.spec.height, 48);
        ASSERT_EQ(image.spec.nchannels, c.channels);
        if (*c.compression) {
            EXPECT_EQ(image.spec.get_string_attribute("compression"), c.compression);
        }
        if (std::string(c.type) == "public.png") {
            // Square pixels, not the zero resolution an unset aspect gives.
            EXPECT_EQ(image.spec.get_float_attribute("XResolution"), 1.0f);
            EXPECT_EQ(image.spec.get_float_attribute("YResolution"), 1.0f);
        }
        const bool exr = std::string(c.type) == "com.ilm.openexr-image";
        const std::vector<float> expected = expectedSamples(frame, exr, c.channels);
        ASSERT_EQ(image.pixels.size(), expected.size());
        double total = 0;
        double largest = 0;
        for (size_t i = 0; i < expected.size(); ++i) {
            // Without alpha a fully transparent colour means nothing.
            if (c.channels == 4 && !exr && expected[i - i % 4 + 3] == 0) continue;
            const double error = std::fabs(image.pixels[i] - expected[i]);
            total += error;
            largest = std::max(largest, error);
        }
        if (c.meanError == 0) {
            // Half floats keep 11 significant bits; 8-bit files the very bytes.
            EXPECT_LT(largest, exr ? 1e-3 : 1e-6);
        } else {
            EXPECT_LT(total / double(expected.size()), c.meanError);
        }
    }
}

TEST(ImageSequence, Jpeg2000LevelsBelowFiveMeetTheirRate) {
    TempDir scratch;
    const ImageRGBA8 frame = test::gradientFrame(128, 96, 3);
    const double rawBytes = 128 * 96 * 3;
    // The file's boxes and headers come on top of the rate.
    for (const auto& [quality, ratio] : {std::pair{0, 64}, {2, 30}, {3, 20}}) {
        const std::string dir = scratch.file("q" + std::to_string(quality));
        auto writer = ImageSequenceWriter::open(dir, "public.jpeg-2000", 1, quality);
        ASSERT_TRUE(writer);
        ASSERT_TRUE((*writer)->writeFrame(0, frame));
        EXPECT_LE(double(fs::file_size((*writer)->pathForFrame(0))), rawBytes / ratio + 400)
            << quality;
    }
}

}  // namespace
}  // namespace lumivane
