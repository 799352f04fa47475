#include <gtest/gtest.h>

#include <cstring>

#include "ProcessRunner.h"
#include "platform/media/SoundtrackReader.h"

namespace lumivane {
namespace {

using test::shellQuoted;

constexpr int kRate = 48000;
constexpr int kSeconds = 14;
constexpr int kClick = 30011;  // a one-sample click, at a sample no codec frame starts on

// A stereo sweep with a click, so that any misplaced read shows.
void makeSource(const std::string& path, const std::string& codecArguments) {
    const std::string source = "aevalsrc=exprs='0.3*sin(2*PI*(100+300*t)*t)+0.6*eq(n," +
                               std::to_string(kClick) +
                               ")|0.2*sin(2*PI*(900-40*t)*t)':s=" + std::to_string(kRate) +
                               ":d=" + std::to_string(kSeconds);
    const auto made = test::runShell("ffmpeg -v error -y -f lavfi -i " + shellQuoted(source) + " " +
                                     codecArguments + " " + shellQuoted(path));
    ASSERT_TRUE(made.ok()) << path;
}

// What the ffmpeg program decodes the stream to: the independent reference.
std::vector<float> decodeWithFFmpeg(const std::string& path) {
    const auto decoded =
        test::runShell("ffmpeg -v error -i " + shellQuoted(path) + " -map 0:a:0 -f f32le -");
    EXPECT_TRUE(decoded.ok()) << path;
    std::vector<float> samples(decoded.output.size() / sizeof(float));
    std::memcpy(samples.data(), decoded.output.data(), samples.size() * sizeof(float));
    return samples;
}

struct Format {
    const char* file;
    const char* arguments;
};

// Reads that step back, jump far ahead and cross both ends of the stream
// give exactly the samples a decode from the start gives, silence outside.
TEST(SoundtrackReader, ReadsAreSampleExactAnywhereInTheStream) {
    const Format formats[] = {
        {"s.wav", "-c:a pcm_s16le"},
        {"s.flac", "-c:a flac"},
        {"s.mp3", "-c:a libmp3lame -b:a 192k"},
        {"s.m4a", "-c:a aac -b:a 192k"},
        {"s.aac", "-c:a aac -b:a 192k -f adts"},
        {"s.mov", "-f lavfi -i color=c=red:s=32x32:r=25:d=14 -c:v mpeg4 -c:a pcm_s24le"},
    };
    const int64_t reads[][2] = {{-700, 1500}, {200000, 4096},  {30000, 100},
                                {5000, 3000}, {650000, 40000}, {40000, 1},
                                {-100, 50},   {29000, 48000},  {671000, 2000}};
    test::TempDir dir;
    for (const Format& format : formats) {
        SCOPED_TRACE(format.file);
        const std::string path = dir.file(format.file);
        makeSource(path, format.arguments);
        const std::vector<float> reference = decodeWithFFmpeg(path);
        auto reader = SoundtrackReader::open(path);
        ASSERT_TRUE(reader) << reader.error();
        ASSERT_EQ((*reader)->sampleRate(), kRate);
        ASSERT_EQ((*reader)->channels(), 2);
        const int64_t length = int64_t(reference.size() / 2);
        std::vector<float> samples;
        for (const auto& [first, count] : reads) {
            ASSERT_TRUE((*reader)->read(first, count, samples));
            ASSERT_EQ(samples.size(), size_t(count) * 2);
            int mismatches = 0;
            for (int64_t i = 0; i < count * 2; ++i) {
                const int64_t at = first * 2 + i;
                const float expected = at >= 0 && at < length * 2 ? reference[size_t(at)] : 0.f;
                mismatches += samples[size_t(i)] != expected;
            }
            EXPECT_EQ(mismatches, 0) << "reading " << count << " from " << first;
        }
    }
}

// Lossless sources put the click on its own sample.
TEST(SoundtrackReader, LosslessClickLandsOnItsSample) {
    test::TempDir dir;
    const std::string path = dir.file("click.flac");
    makeSource(path, "-c:a flac");
    auto reader = SoundtrackReader::open(path);
    ASSERT_TRUE(reader) << reader.error();
    std::vector<float> samples;
    ASSERT_TRUE((*reader)->read(kClick - 1, 3, samples));
    EXPECT_GT(samples[2] - (samples[0] + samples[4]) / 2, 0.5f);
}

TEST(SoundtrackReader, OpenFailuresSayWhy) {
    test::TempDir dir;
    test::writeFile(dir.file("notes.txt"), "not a song\n");
    const std::string silent = dir.file("silent.mov");
    ASSERT_TRUE(test::runShell("ffmpeg -v error -f lavfi -i color=s=16x16:d=0.2 -c:v mpeg4 " +
                               shellQuoted(silent))
                    .ok());
    const std::pair<std::string, std::string> cases[] = {
        {dir.file("missing.wav"), "does not exist"},
        {dir.path(), "is not a file"},
        {dir.file("notes.txt"), "is not media"},
        {silent, "has no audio stream"},
    };
    for (const auto& [path, why] : cases) {
        auto reader = SoundtrackReader::open(path);
        ASSERT_FALSE(reader) << path;
        EXPECT_NE(reader.error().find("\"" + path + "\": " + why), std::string::npos)
            << reader.error();
    }
}

}  // namespace
}  // namespace lumivane
