// Every codec the renderer lists, at the sizes users render at: it writes a
// movie that FFmpeg reads back under the code the list shows, or refuses the
// size saying which sizes it takes; and its quality levels change the file.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "MediaTestSupport.h"
#include "ProcessRunner.h"
#include "platform/media/CodecRegistry.h"
#include "platform/media/EncoderSettings.h"
#include "platform/media/MovieWriter.h"

namespace lumivane {
namespace {

using test::TempDir;

struct Size {
    int width, height;
};
constexpr Size kSizes[] = {{64, 48}, {720, 480}};

// Codecs whose format limits the frame or whose movies carry another code
// than the list shows: the refusal names the sizes taken, the file carries
// the code of what was written.
struct Exception {
    const char* fourcc;
    const char* refusalMentions;  // in the error for a size it cannot take
    const char* carriedAt720x480;
};
constexpr Exception kExceptions[] = {
    {"AVdn", "256x120", "AVdh"},   // away from DNxHD's broadcast sizes it is DNxHR
    {"dvcp", "720x480", "dvc "},   // NTSC DV's code
    {"H261", "176x144", nullptr},  // its two picture sizes only
};

const Exception* exceptionFor(const std::string& fourcc) {
    for (const Exception& exception : kExceptions) {
        if (fourcc == exception.fourcc) return &exception;
    }
    return nullptr;
}

Result<void> writeMovie(const std::string& path, const std::string& fourcc, int quality,
                        Size size) {
    auto writer = MovieWriter::create(path, fourcc, quality, 30.0, size.width, size.height);
    if (!writer) return Error{writer.error()};
    for (int i = 0; i < 2; ++i) {
        auto added = (*writer)->addFrame(test::gradientFrame(size.width, size.height, i));
        if (!added) return added;
    }
    return (*writer)->updateMovieFile();
}

std::string fileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool sameSettings(const EncoderSettings& a, const EncoderSettings& b) {
    return a.encoder == b.encoder && a.options == b.options && a.qscale == b.qscale &&
           a.compressionLevel == b.compressionLevel && a.pixelFormat == b.pixelFormat;
}

TEST(CodecCoverage, EveryListedCodecWritesWhatFfprobeReadsAtEachSize) {
    TempDir scratch;
    for (const CodecInfo& codec : offeredCodecs()) {
        const Exception* exception = exceptionFor(codec.fourcc);
        for (const Size size : kSizes) {
            SCOPED_TRACE(codec.fourcc + " (" + codec.encoder + ") at " +
                         std::to_string(size.width) + "x" + std::to_string(size.height));
            const std::string path = scratch.file("listed.mov");
            auto written = writeMovie(path, codec.fourcc, 3, size);
            if (!written) {
                EXPECT_TRUE(exception) << written.error();
                if (!exception) continue;
                EXPECT_NE(written.error().find(exception->refusalMentions), std::string::npos)
                    << written.error();
                continue;
            }
            const nlohmann::json stream = test::probeStream(path);
            if (stream.is_null()) {
                ADD_FAILURE() << "ffprobe cannot read the movie";
                continue;
            }
            const bool broadcast = size.width == 720 && exception && exception->carriedAt720x480;
            EXPECT_EQ(stream["codec_tag_string"],
                      broadcast ? exception->carriedAt720x480 : codec.fourcc);
            EXPECT_EQ(stream["nb_read_packets"], "2");
            EXPECT_EQ(stream["width"], size.width);
            if (size.width == kSizes[0].width) {
                EXPECT_EQ(test::decodeRGBA(path).size(), size_t(2) * size.width * size.height * 4)
                    << "the frames do not decode";
            }
        }
    }
}

TEST(CodecCoverage, LowestAndHighestQualityDifferWhereTheCodecHasAControl) {
    TempDir scratch;
    int controlled = 0;
    for (const CodecInfo& codec : offeredCodecs("")) {
        SCOPED_TRACE(codec.fourcc + " (" + codec.encoder + ")");
        const Size size = codec.fourcc == "H261"       ? Size{176, 144}
                          : exceptionFor(codec.fourcc) ? Size{720, 480}
                                                       : Size{64, 48};
        auto lowest = encoderSettings(codec, 0, size.width, size.height);
        auto highest = encoderSettings(codec, 5, size.width, size.height);
        ASSERT_TRUE(lowest && highest);
        if (sameSettings(*lowest, *highest)) continue;
        ++controlled;
        const std::string extension = test::movieExtensionFor(codec);
        auto low = writeMovie(scratch.file("q0" + extension), codec.fourcc, 0, size);
        auto high = writeMovie(scratch.file("q5" + extension), codec.fourcc, 5, size);
        if (!low || !high) {
            ADD_FAILURE() << (low ? high.error() : low.error());
            continue;
        }
        EXPECT_FALSE(fileBytes(scratch.file("q0" + extension)) ==
                     fileBytes(scratch.file("q5" + extension)))
            << "quality 0 and 5 wrote the same movie";
    }
    EXPECT_GT(controlled, 10);
}

}  // namespace
}  // namespace lumivane
