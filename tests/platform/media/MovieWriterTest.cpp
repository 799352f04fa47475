#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "MediaTestSupport.h"
#include "ProcessRunner.h"
#include "platform/media/AnimationWriter.h"
#include "platform/media/CodecRegistry.h"
#include "platform/media/MovieWriter.h"

namespace lumivane {
namespace {

using test::TempDir;

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int kFrames = 12;

// Writes kFrames gradient frames at 30 fps; returns the frames handed over.
std::vector<ImageRGBA8> writeMovie(const std::string& path, const std::string& fourcc, int quality,
                                   bool translucent = false) {
    auto writer = MovieWriter::create(path, fourcc, quality, 30.0, kWidth, kHeight);
    EXPECT_TRUE(writer) << writer.error();
    std::vector<ImageRGBA8> frames;
    if (!writer) return frames;
    for (int i = 0; i < kFrames; ++i) {
        frames.push_back(test::gradientFrame(kWidth, kHeight, i, translucent));
        auto added = (*writer)->addFrame(frames.back());
        EXPECT_TRUE(added) << added.error();
    }
    auto updated = (*writer)->updateMovieFile();
    EXPECT_TRUE(updated) << updated.error();
    EXPECT_EQ((*writer)->framesWritten(), kFrames);
    return frames;
}

// Straight colour over black, as codecs without alpha must show it.
std::vector<ImageRGBA8> overBlack(std::vector<ImageRGBA8> frames) {
    for (ImageRGBA8& frame : frames) {
        for (size_t i = 0; i < frame.pixels.size(); i += 4) {
            const int a = frame.pixels[i + 3];
            for (int c = 0; c < 3; ++c)
                frame.pixels[i + c] = uint8_t((frame.pixels[i + c] * a + 127) / 255);
            frame.pixels[i + 3] = 255;
        }
    }
    return frames;
}

// The top-level boxes of a QuickTime file, in order.
std::vector<std::string> topLevelAtoms(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> atoms;
    uint64_t offset = 0;
    while (true) {
        unsigned char header[16];
        file.seekg(static_cast<std::streamoff>(offset));
        if (!file.read(reinterpret_cast<char*>(header), 8)) break;
        uint64_t size =
            (uint64_t(header[0]) << 24) | (header[1] << 16) | (header[2] << 8) | header[3];
        atoms.emplace_back(reinterpret_cast<char*>(header + 4), 4);
        if (size == 1) {
            if (!file.read(reinterpret_cast<char*>(header + 8), 8)) break;
            size = 0;
            for (int i = 8; i < 16; ++i) size = (size << 8) | header[i];
        }
        if (size < 8) break;
        offset += size;
    }
    return atoms;
}

struct CodecCase {
    std::string fourcc;
    int quality;
    std::string pixelFormat;
    std::string colourSpace;
    std::string range;
    bool keepsAlpha;
    double meanTolerance;  // 0: lossless, decoded bytes must equal the source
};

void PrintTo(const CodecCase& c, std::ostream* out) {
    *out << "'" << c.fourcc << "' q" << c.quality;
}

class MovieCodecTest : public testing::TestWithParam<CodecCase> {};

TEST_P(MovieCodecTest, FfprobeSeesTheStreamAndTheFramesDecodeBack) {
    const CodecCase& c = GetParam();
    if (!codecForFourCC(c.fourcc)) GTEST_SKIP() << c.fourcc << " not in this FFmpeg";
    TempDir scratch;
    const std::string path = scratch.file("movie.mov");
    const std::vector<ImageRGBA8> frames = writeMovie(path, c.fourcc, c.quality, true);

    const nlohmann::json stream = test::probeStream(path);
    ASSERT_FALSE(stream.is_null()) << "ffprobe cannot read the movie";
    EXPECT_EQ(stream["codec_tag_string"], c.fourcc == "raw " ? "raw " : c.fourcc);
    EXPECT_EQ(stream["nb_read_packets"], std::to_string(kFrames));
    EXPECT_EQ(stream["width"], kWidth);
    EXPECT_EQ(stream["height"], kHeight);
    EXPECT_EQ(stream["time_base"], "1/18000");
    EXPECT_EQ(stream["r_frame_rate"], "30/1");
    EXPECT_NEAR(std::stod(stream["format"]["duration"].get<std::string>()), kFrames / 30.0, 1e-3);
    EXPECT_EQ(stream["pix_fmt"], c.pixelFormat);
    EXPECT_EQ(stream.value("color_primaries", ""), "bt709");
    EXPECT_EQ(stream.value("color_transfer", ""), "bt709");
    EXPECT_EQ(stream.value("color_space", ""), c.colourSpace);
    EXPECT_EQ(stream.value("color_range", ""), c.range);
    for (int64_t step : test::presentationSteps(path)) EXPECT_EQ(step, 600);

    const std::vector<ImageRGBA8> expected = c.keepsAlpha ? frames : overBlack(frames);
    const auto decoded = test::decodeRGBA(path);
    ASSERT_EQ(decoded.size(), size_t(kFrames) * kWidth * kHeight * 4);
    const test::Difference difference = test::compareRGBA(expected, decoded, c.keepsAlpha);
    if (c.meanTolerance == 0) {
        EXPECT_EQ(difference.largest, 0) << "lossless codec changed pixels";
    } else {
        EXPECT_LE(difference.mean, c.meanTolerance);
    }
}

// Pixel formats as ffprobe reports the decoder's output (ProRes 4444 decodes
// to 12 bits). QuickTime's colour atom has no range field, so raw and RLE
// (always full-range RGB) and MPEG-4 part 2, whose stream has no range flag,
// read back as unknown, which ffprobe leaves out. Tolerances: mean absolute
// error per 8-bit channel over smooth gradients; coarse levels may err more.
INSTANTIATE_TEST_SUITE_P(
    Codecs, MovieCodecTest,
    testing::Values(CodecCase{"avc1", 0, "yuv420p", "bt709", "tv", false, 8.0},
                    CodecCase{"avc1", 1, "yuv420p", "bt709", "tv", false, 5.0},
                    CodecCase{"avc1", 2, "yuv420p", "bt709", "tv", false, 3.0},
                    CodecCase{"avc1", 3, "yuv420p", "bt709", "tv", false, 2.5},
                    CodecCase{"avc1", 4, "yuv420p", "bt709", "tv", false, 2.0},
                    CodecCase{"avc1", 5, "gbrp", "gbr", "pc", false, 0},
                    CodecCase{"mp4v", 3, "yuv420p", "bt709", "", false, 3.0},
                    CodecCase{"jpeg", 3, "yuvj420p", "bt470bg", "pc", false, 3.0},
                    CodecCase{"png ", 2, "rgba", "gbr", "pc", true, 0},
                    CodecCase{"rle ", 2, "argb", "gbr", "", true, 0},
                    CodecCase{"raw ", 2, "argb", "gbr", "", true, 0},
                    CodecCase{"apcn", 2, "yuv422p10le", "bt709", "tv", false, 2.5},
                    CodecCase{"ap4h", 2, "yuva444p12le", "bt709", "tv", true, 1.5},
                    CodecCase{"hvc1", 3, "yuv420p", "bt709", "tv", false, 3.0}),
    [](const testing::TestParamInfo<CodecCase>& info) {
        std::string name = info.param.fourcc + "_q" + std::to_string(info.param.quality);
        for (char& ch : name) {
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        }
        return name;
    });

TEST(MovieWriter, FinalMovieIsUnfragmentedWithItsIndexInFront) {
    TempDir scratch;
    const std::string path = scratch.file("movie.mov");
    writeMovie(path, "avc1", 2);
    const auto atoms = topLevelAtoms(path);
    ASSERT_GE(atoms.size(), 3u);
    EXPECT_EQ(atoms[0], "ftyp");
    const auto moov = std::find(atoms.begin(), atoms.end(), "moov");
    const auto mdat = std::find(atoms.begin(), atoms.end(), "mdat");
    EXPECT_TRUE(moov < mdat) << "index must come before the media data";
    EXPECT_EQ(std::count(atoms.begin(), atoms.end(), "moof"), 0);
    EXPECT_EQ(std::filesystem::directory_iterator(scratch.path())->path().filename(), "movie.mov")
        << "the temporary file of the rewrite is gone";
}

TEST(MovieWriter, FrameTimingFollowsTheFrameRate) {
    struct Rate {
        double framerate;
        const char* timeBase;
    };
    for (const Rate rate :
         {Rate{25.0, "1/15000"}, Rate{29.97, "1/17982"}, Rate{1.0, "1/600"}, Rate{0.5, "1/300"}}) {
        TempDir scratch;
        const std::string path = scratch.file("rate.mov");
        auto writer = MovieWriter::create(path, "avc1", 2, rate.framerate, 32, 32);
        ASSERT_TRUE(writer) << writer.error();
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE((*writer)->addFrame(test::gradientFrame(32, 32, i)));
        ASSERT_TRUE((*writer)->updateMovieFile());
        const nlohmann::json stream = test::probeStream(path);
        ASSERT_FALSE(stream.is_null());
        EXPECT_EQ(stream["time_base"], rate.timeBase) << rate.framerate;
        EXPECT_EQ(stream["nb_read_packets"], "3");
        EXPECT_NEAR(std::stod(stream["format"]["duration"].get<std::string>()), 3 / rate.framerate,
                    1e-3);
        for (int64_t step : test::presentationSteps(path)) EXPECT_EQ(step, 600);
    }
}

TEST(MovieWriter, ZeroFrameMovieIsStillAValidFile) {
    TempDir scratch;
    const std::string path = scratch.file("empty.mov");
    auto writer = MovieWriter::create(path, "avc1", 3, 30.0, 64, 48);
    ASSERT_TRUE(writer) << writer.error();
    auto updated = (*writer)->updateMovieFile();
    ASSERT_TRUE(updated) << updated.error();
    const nlohmann::json stream = test::probeStream(path);
    ASSERT_FALSE(stream.is_null());
    EXPECT_EQ(stream["codec_tag_string"], "avc1");
    EXPECT_EQ(stream.value("nb_read_packets", "0"), "0");  // ffprobe leaves out a count of 0
    EXPECT_EQ(stream["width"], 64);
}

TEST(MovieWriter, TranslucentFramesShowBlackBehindInCodecsWithoutAlpha) {
    TempDir scratch;
    const std::string path = scratch.file("translucent.mov");
    auto writer = MovieWriter::create(path, "avc1", 4, 30.0, 32, 32);
    ASSERT_TRUE(writer);
    const ImageRGBA8 frame = test::solidFrame(32, 32, {200, 100, 40, 128});
    ASSERT_TRUE((*writer)->addFrame(frame));
    ASSERT_TRUE((*writer)->updateMovieFile());
    const auto decoded = test::decodeRGBA(path);
    ASSERT_EQ(decoded.size(), frame.pixels.size());
    const size_t centre = (16 * 32 + 16) * 4;
    EXPECT_NEAR(decoded[centre], 100, 3);
    EXPECT_NEAR(decoded[centre + 1], 50, 3);
    EXPECT_NEAR(decoded[centre + 2], 20, 3);
}

// Alpha below one half is GIF's transparent colour; a pixel that turns
// transparent after an opaque frame must not keep showing that frame.
TEST(AnimationWriter, TranslucencyBecomesGifTransparency) {
    TempDir scratch;
    const std::string path = scratch.file("clear.gif");
    auto writer = AnimationWriter::create(path, "gif ", 3, 10.0, 32, 32);
    ASSERT_TRUE(writer) << writer.error();
    ImageRGBA8 first = test::solidFrame(32, 32, {200, 40, 40, 255});
    ImageRGBA8 second = test::solidFrame(32, 32, {40, 40, 200, 100});
    for (int i = 0; i < 32 * 16 * 4; i += 4) first.pixels[i + 3] = 20;  // top half clear
    for (int i = 0; i < 32 * 16 * 4; i += 4) second.pixels[i + 3] = 255;
    ASSERT_TRUE((*writer)->addFrame(first));
    ASSERT_TRUE((*writer)->addFrame(second));
    ASSERT_TRUE((*writer)->build());
    EXPECT_FALSE(std::filesystem::exists(AnimationWriter::keptFramesPath(path)));
    const auto decoded = test::decodeRGBA(path);
    ASSERT_EQ(decoded.size(), size_t(2) * 32 * 32 * 4);
    const size_t top = (4 * 32 + 4) * 4;
    const size_t bottom = (28 * 32 + 4) * 4;
    const size_t frame = 32 * 32 * 4;
    EXPECT_EQ(decoded[top + 3], 0);
    EXPECT_EQ(decoded[bottom + 3], 255);
    EXPECT_NEAR(decoded[bottom], 200, 8);
    EXPECT_EQ(decoded[frame + top + 3], 255);
    EXPECT_NEAR(decoded[frame + top + 2], 200, 8);
    EXPECT_EQ(decoded[frame + bottom + 3], 0) << "the first frame shows through";
}

TEST(MovieWriter, SaturatedColoursSurviveTheBt709RoundTrip) {
    // A matrix mismatch between writing and the tags shifts these by tens of levels.
    const uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    ImageRGBA8 frame{64, 16, std::vector<uint8_t>(64 * 16 * 4)};
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 64; ++x) {
            uint8_t* p = &frame.pixels[(y * 64 + x) * 4];
            std::copy(colours[x / 16], colours[x / 16] + 3, p);
            p[3] = 255;
        }
    }
    for (const char* code : {"avc1", "jpeg", "apch"}) {
        TempDir scratch;
        const std::string path = scratch.file("colours.mov");
        auto writer = MovieWriter::create(path, code, 4, 30.0, 64, 16);
        ASSERT_TRUE(writer) << writer.error();
        ASSERT_TRUE((*writer)->addFrame(frame));
        ASSERT_TRUE((*writer)->updateMovieFile());
        const auto decoded = test::decodeRGBA(path);
        ASSERT_EQ(decoded.size(), frame.pixels.size()) << code;
        for (int block = 0; block < 4; ++block) {
            const size_t centre = (8 * 64 + block * 16 + 8) * 4;
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(decoded[centre + c], colours[block][c], 6)
                    << code << " block " << block << " channel " << c;
            }
        }
    }
}

TEST(MovieWriter, FramesOfAnotherSizeAndFloatFramesAreTaken) {
    TempDir scratch;
    const std::string path = scratch.file("mixed.mov");
    auto writer = MovieWriter::create(path, "png ", 2, 30.0, 64, 48);
    ASSERT_TRUE(writer);
    const ImageRGBA8 small = test::solidFrame(16, 12, {10, 200, 90, 255});
    const ImageRGBA8 gradient = test::gradientFrame(64, 48, 3, true);
    ASSERT_TRUE((*writer)->addFrame(small));
    ASSERT_TRUE((*writer)->addFrame(test::toFloat(gradient)));
    ASSERT_TRUE((*writer)->updateMovieFile());
    const auto decoded = test::decodeRGBA(path);
    ASSERT_EQ(decoded.size(), size_t(2) * 64 * 48 * 4);
    const size_t centre = (24 * 64 + 32) * 4;
    EXPECT_EQ(decoded[centre], 10);
    EXPECT_EQ(decoded[centre + 1], 200);
    EXPECT_EQ(decoded[centre + 2], 90);
    const std::vector<uint8_t> second(decoded.begin() + 64 * 48 * 4, decoded.end());
    EXPECT_LE(test::compareRGBA({gradient}, second, true).largest, 1);
}

TEST(MovieWriter, OddSizesStillEncode) {
    TempDir scratch;
    const std::string path = scratch.file("odd.mov");
    auto writer = MovieWriter::create(path, "avc1", 3, 30.0, 33, 17);
    ASSERT_TRUE(writer) << writer.error();
    ASSERT_TRUE((*writer)->addFrame(test::gradientFrame(33, 17, 0)));
    ASSERT_TRUE((*writer)->updateMovieFile());
    const nlohmann::json stream = test::probeStream(path);
    ASSERT_FALSE(stream.is_null());
    EXPECT_EQ(stream["width"], 33);
    EXPECT_EQ(stream["height"], 17);
    EXPECT_EQ(stream["pix_fmt"], "yuv444p") << "4:2:0 needs even sizes; stays YUV";
}

TEST(MovieWriter, SizesAnEncoderCannotTakeAreErrorsNotCrashes) {
    TempDir scratch;
    // x265 corrupts its heap on pictures this small.
    if (codecForFourCC("hvc1")) {
        EXPECT_FALSE(MovieWriter::create(scratch.file("a.mov"), "hvc1", 3, 30.0, 34, 18));
    }
    EXPECT_FALSE(MovieWriter::create(scratch.file("c.mov"), "rpza", 3, 30.0, 2, 2));
    // MPEG-4 part 2 has no 4:4:4 to fall back on for odd sizes.
    auto odd = MovieWriter::create(scratch.file("b.mov"), "mp4v", 3, 30.0, 33, 17);
    ASSERT_FALSE(odd);
    EXPECT_NE(odd.error().find("33x17"), std::string::npos) << odd.error();
}

TEST(MovieWriter, EveryListedCodecWritesOrRefusesTinyFrames) {
    // Some encoders crash rather than refuse tiny pictures; none may take the
    // process down.
    TempDir scratch;
    for (const CodecInfo& codec : installedCodecs()) {
        const std::string path = scratch.file("tiny" + test::movieExtensionFor(codec));
        auto writer = MovieWriter::create(path, codec.fourcc, 3, 30.0, 2, 2);
        if (!writer) {
            EXPECT_FALSE(writer.error().empty());
            continue;
        }
        EXPECT_TRUE((*writer)->addFrame(test::gradientFrame(2, 2, 0))) << codec.fourcc;
        EXPECT_TRUE((*writer)->updateMovieFile()) << codec.fourcc;
    }
}

TEST(MovieWriter, NamesThatLookLikeProtocolsAreFiles) {
    TempDir scratch;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(scratch.path());
    auto writer = MovieWriter::create("take:2.mov", "avc1", 3, 30.0, 32, 32);
    ASSERT_TRUE(writer) << writer.error();
    ASSERT_TRUE((*writer)->addFrame(test::gradientFrame(32, 32, 0)));
    auto updated = (*writer)->updateMovieFile();
    std::filesystem::current_path(previous);
    ASSERT_TRUE(updated) << updated.error();
    EXPECT_EQ(test::probeStream(scratch.file("take:2.mov"))["nb_read_packets"], "1");
}

TEST(MovieWriter, RejectsWhatItCannotWrite) {
    TempDir scratch;
    auto unknown = MovieWriter::create(scratch.file("a.mov"), "zzzz", 3, 30.0, 64, 48);
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.error(), "'zzzz' is not an installed codec");
    auto imageType = MovieWriter::create(scratch.file("a.mov"), "AVC1", 3, 30.0, 64, 48);
    EXPECT_FALSE(imageType);

    const std::string missing = scratch.file("no/such/dir/a.mov");
    auto noDirectory = MovieWriter::create(missing, "avc1", 3, 30.0, 64, 48);
    ASSERT_FALSE(noDirectory);
    EXPECT_NE(noDirectory.error().find("\"" + missing + "\""), std::string::npos)
        << noDirectory.error();

    EXPECT_FALSE(MovieWriter::create(scratch.file("b.mov"), "avc1", 3, 30.0, 0, 48));
    EXPECT_FALSE(MovieWriter::create(scratch.file("c.mov"), "avc1", 3, 0.001, 64, 48));
    EXPECT_FALSE(MovieWriter::create(scratch.file("d.mov"), "avc1", 3, NAN, 64, 48));
}

TEST(MovieWriter, BadFramesAndFramesAfterFinishingAreErrors) {
    TempDir scratch;
    const std::string path = scratch.file("movie.mov");
    auto writer = MovieWriter::create(path, "avc1", 3, 30.0, 32, 32);
    ASSERT_TRUE(writer);
    ImageRGBA8 truncated{32, 32, std::vector<uint8_t>(100)};
    EXPECT_FALSE((*writer)->addFrame(truncated));
    EXPECT_FALSE((*writer)->addFrame(ImageRGBA8{}));
    ASSERT_TRUE((*writer)->addFrame(test::gradientFrame(32, 32, 0)));
    EXPECT_EQ((*writer)->framesWritten(), 1);
    EXPECT_FALSE((*writer)->isFinished());
    ASSERT_TRUE((*writer)->updateMovieFile());
    EXPECT_TRUE((*writer)->isFinished());
    EXPECT_TRUE((*writer)->updateMovieFile()) << "a second update does nothing";
    EXPECT_FALSE((*writer)->addFrame(test::gradientFrame(32, 32, 1)));
    EXPECT_EQ(test::probeStream(path)["nb_read_packets"], "1");
}

TEST(MovieWriter, FinishedFragmentsHoldEveryFrameBeforeTheRewrite) {
    TempDir scratch;
    const std::string path = scratch.file("movie.mov");
    auto writer = MovieWriter::create(path, "avc1", 3, 10.0, 32, 32);
    ASSERT_TRUE(writer);
    // More than a fragment, and frames still in the encoder's look-ahead.
    for (int i = 0; i < 15; ++i) ASSERT_TRUE((*writer)->addFrame(test::gradientFrame(32, 32, i)));
    ASSERT_TRUE((*writer)->finishFragments());
    EXPECT_FALSE((*writer)->isFinished()) << "the rewrite is still to come";
    EXPECT_FALSE((*writer)->addFrame(test::gradientFrame(32, 32, 15)));
    EXPECT_TRUE((*writer)->finishFragments()) << "a second call does nothing";
    EXPECT_EQ(test::probeStream(path)["nb_read_packets"], "15");
    auto atoms = topLevelAtoms(path);
    EXPECT_GE(std::count(atoms.begin(), atoms.end(), "moof"), 2);

    ASSERT_TRUE((*writer)->updateMovieFile());
    EXPECT_TRUE((*writer)->isFinished());
    EXPECT_EQ(test::probeStream(path)["nb_read_packets"], "15");
    atoms = topLevelAtoms(path);
    EXPECT_EQ(std::count(atoms.begin(), atoms.end(), "moof"), 0);
}

TEST(MovieWriter, QualityOutsideTheTableIsNormal) {
    // Motion JPEG encodes deterministically, so equal settings give equal files.
    TempDir scratch;
    writeMovie(scratch.file("normal.mov"), "jpeg", 2);
    writeMovie(scratch.file("high.mov"), "jpeg", 3);
    writeMovie(scratch.file("seven.mov"), "jpeg", 7);
    writeMovie(scratch.file("negative.mov"), "jpeg", -1);
    const auto normal = std::filesystem::file_size(scratch.file("normal.mov"));
    EXPECT_LT(normal, std::filesystem::file_size(scratch.file("high.mov")));
    EXPECT_EQ(std::filesystem::file_size(scratch.file("seven.mov")), normal);
    EXPECT_EQ(std::filesystem::file_size(scratch.file("negative.mov")), normal);
}

}  // namespace
}  // namespace lumivane
