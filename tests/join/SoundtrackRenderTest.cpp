// A render with --audio carries the soundtrack's samples for its time range,
// in step with its frames; chunks joined carry the whole render's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "MovieProbe.h"
#include "ProcessRunner.h"

namespace lumivane {
namespace {

using test::runProcess;
using test::shellQuoted;
using test::TempDir;

constexpr int kRate = 48000;
constexpr double kStart = 0.3;  // -s
constexpr int kFrames = 60;     // -d 2 at 30 fps
constexpr int kMovieSamples = 2 * kRate;
// Clicks in composition time, inside the render's [0.3, 2.3) s.
constexpr double kClicks[] = {0.5, 1.0 + 1.0 / 60, 1.9};

// A sweep in both channels with clicks at known times.
std::string makeSource(const TempDir& dir) {
    std::string clicks;
    for (double at : kClicks)
        clicks += "+0.6*eq(n," + std::to_string(std::lround(at * kRate)) + ")";
    const std::string path = dir.file("song.wav");
    const std::string source = "aevalsrc=exprs='0.2*sin(2*PI*(200+400*t)*t)" + clicks +
                               "|0.2*sin(2*PI*(700-100*t)*t)':s=48000:d=4";
    EXPECT_TRUE(test::runShell("ffmpeg -v error -f lavfi -i " + shellQuoted(source) +
                               " -c:a pcm_s16le " + shellQuoted(path))
                    .ok());
    return path;
}

// The first channel of the movie's (or song's) sound, as FFmpeg decodes it.
std::vector<float> decodeSound(const std::string& path) {
    const auto decoded = test::runShell("ffmpeg -v error -i " + shellQuoted(path) +
                                        " -map 0:a:0 -af 'pan=mono|c0=c0' -f f32le -");
    EXPECT_TRUE(decoded.ok()) << path;
    std::vector<float> samples(decoded.output.size() / sizeof(float));
    std::memcpy(samples.data(), decoded.output.data(), samples.size() * sizeof(float));
    return samples;
}

std::string soundDuration(const std::string& path) {
    return test::runShell(
               "ffprobe -v error -select_streams a -show_entries stream=duration "
               "-of csv=p=0 " +
               shellQuoted(path))
        .output;
}

void render(const std::string& output, const std::string& codec, const std::string& song,
            const std::vector<std::string>& more = {}) {
    std::vector<std::string> argv = {
        test::cliPath(), "-w", "64",  "-h", "48",   "-d",      "2", "-s",
        "0.3",           "-c", codec, "-o", output, "--audio", song};
    argv.insert(argv.end(), more.begin(), more.end());
    argv.push_back(std::string(LUMIVANE_SOURCE_DIR) + "/resources/compositions/demo.qtz");
    const auto run = runProcess(argv, test::withTimeout(300));
    ASSERT_EQ(run.status, 0) << run.err;
}

void expectJoinedEqualsWhole(const TempDir& dir, const std::string& codec, const std::string& song,
                             double tolerance) {
    render(dir.file("a.mov"), codec, song, {"--frames", "1-17"});
    render(dir.file("b.mov"), codec, song, {"--frames", "18-60"});
    const auto joined = runProcess({LUMIVANE_JOIN_PROGRAM, "--verify", "-o", dir.file("j.mov"),
                                    dir.file("b.mov"), dir.file("a.mov")});
    ASSERT_EQ(joined.status, 0) << joined.err;
    const auto whole = decodeSound(dir.file("whole.mov"));
    const auto pieces = decodeSound(dir.file("j.mov"));
    ASSERT_EQ(pieces.size(), whole.size());
    double largest = 0;
    for (size_t i = 0; i < whole.size(); ++i)
        largest = std::max(largest, double(std::fabs(pieces[i] - whole[i])));
    EXPECT_LE(largest, tolerance) << codec;
    EXPECT_EQ(soundDuration(dir.file("j.mov")), soundDuration(dir.file("whole.mov")));
}

TEST(SoundtrackRender, PcmIsTheSongsSamplesAndChunksJoinBitForBit) {
    TempDir dir;
    const std::string song = makeSource(dir);
    render(dir.file("whole.mov"), "png ", song);
    const auto movie = decodeSound(dir.file("whole.mov"));
    const auto source = decodeSound(song);
    ASSERT_EQ(movie.size(), size_t(kMovieSamples));
    const size_t offset = size_t(std::lround(kStart * kRate));
    EXPECT_TRUE(std::equal(movie.begin(), movie.end(), source.begin() + long(offset)));
    expectJoinedEqualsWhole(dir, "png ", song, 0);
    // A chunk rendered to another song is a piece of another render.
    const std::string other = dir.file("other.wav");
    ASSERT_TRUE(test::runShell("ffmpeg -v error -i " + shellQuoted(song) + " -af volume=0.5 " +
                               shellQuoted(other))
                    .ok());
    render(dir.file("c.mov"), "png ", other, {"--frames", "18-60"});
    const auto foreign = runProcess(
        {LUMIVANE_JOIN_PROGRAM, "-o", dir.file("x.mov"), dir.file("a.mov"), dir.file("c.mov")});
    EXPECT_EQ(foreign.status, 1);
    EXPECT_NE(foreign.err.find("is a chunk of another render: rendered with soundtrack=file:"),
              std::string::npos)
        << foreign.err;
}

TEST(SoundtrackRender, AacFollowsTheSongAndItsClicksTheirFrames) {
    TempDir dir;
    const std::string song = makeSource(dir);
    render(dir.file("whole.mov"), "avc1", song);
    EXPECT_EQ(soundDuration(dir.file("whole.mov")), "2.000000\n");
    const auto movie = decodeSound(dir.file("whole.mov"));
    const auto source = decodeSound(song);
    ASSERT_GE(movie.size(), size_t(kMovieSamples));
    const size_t offset = size_t(std::lround(kStart * kRate));
    double error = 0;
    for (size_t i = 0; i < size_t(kMovieSamples); ++i)
        error += std::fabs(movie[i] - source[offset + i]);
    EXPECT_LT(error / kMovieSamples, 0.01);
    // Each click peaks within one AAC frame (1024 samples) of the frame that shows it.
    const double samplesPerFrame = double(kMovieSamples) / kFrames;
    for (double at : kClicks) {
        const long expected = std::lround((at - kStart) * kRate);
        long peak = expected - 2048;
        for (long i = expected - 2048; i < expected + 2048; ++i)
            if (std::fabs(movie[size_t(i)]) > std::fabs(movie[size_t(peak)])) peak = i;
        EXPECT_LE(std::labs(peak - expected), 1024) << at;
        EXPECT_NEAR(peak / samplesPerFrame, std::floor((at - kStart) * 30 + 1e-9),
                    1024 / samplesPerFrame + 1)
            << at;
    }
    expectJoinedEqualsWhole(dir, "avc1", song, 0.25);
}

// A killed render's movie plays its sound up to where its frames end, the
// song's own samples from the start time on.
TEST(SoundtrackRender, KilledRenderKeepsTheSoundInStep) {
    TempDir dir;
    const std::string song = makeSource(dir);
    const std::string movie = dir.file("killed.mov");
    const auto killed =
        runProcess({test::cliPath(), "-w", "64", "-h", "48", "-d", "600", "-s", "0.3", "-c", "png ",
                    "-o", movie, "--audio", song,
                    std::string(LUMIVANE_SOURCE_DIR) + "/resources/compositions/demo.qtz"},
                   test::withTimeout(5));
    ASSERT_TRUE(killed.timedOut);
    const int frames = test::decodedFrames(movie);
    ASSERT_GE(frames, 30) << "no whole fragment in 5 s";
    const auto sound = decodeSound(movie);
    const auto source = decodeSound(song);
    // Fragments are cut by the frames' time; the sound of a frame or two may
    // wait for the next one.
    EXPECT_NEAR(double(sound.size()), frames * 1600.0, 2 * 1600.0);
    const size_t offset = size_t(std::lround(kStart * kRate));
    // The song is shorter than what the render reached: silence after it.
    const size_t compared = std::min(sound.size(), source.size() - offset);
    EXPECT_TRUE(std::all_of(sound.begin() + long(compared), sound.end(),
                            [](float sample) { return sample == 0.f; }));
    EXPECT_TRUE(
        std::equal(sound.begin(), sound.begin() + long(compared), source.begin() + long(offset)));
}

// What the renderer refuses, at the start, in one line each.
TEST(SoundtrackRender, BadSoundtracksAreRefusedAtTheStart) {
    TempDir dir;
    test::writeFile(dir.file("notes.txt"), "not a song\n");
    const std::string silent = dir.file("silent.mov");
    ASSERT_TRUE(test::runShell("ffmpeg -v error -f lavfi -i color=s=16x16:d=0.2 -c:v mpeg4 " +
                               shellQuoted(silent))
                    .ok());
    const std::string song = makeSource(dir);
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string said;
    };
    const Case cases[] = {
        {{"--audio", dir.file("missing.wav")},
         254,
         "\"" + dir.file("missing.wav") + "\": does not exist"},
        {{"--audio", dir.file("notes.txt")},
         254,
         "\"" + dir.file("notes.txt") + "\": is not media"},
        {{"--audio", silent}, 254, "\"" + silent + "\": has no audio stream"},
        {{"--audio", song, "-l", "2"}, 255, "A soundtrack plays at time scale 1 only (-l 2"},
        {{"--audio", song, "--audio-codec", "mp3"}, 255, "Audio codec must be pcm or aac [mp3]"},
        {{"--audio", song, "-o", dir.file("m.mkv"), "--audio-codec", "aac"},
         254,
         "AAC soundtracks go in QuickTime or MP4 movies"},
        {{"--audio", song, "--audio-codec", "pcm", "-o", dir.file("m.mp4")},
         254,
         "a mp4 movie cannot hold pcm_s16le audio"},
        {{"--audio", song, "-c", "public.png", "-o", dir.file("frames")},
         0,
         "image sequences carry no sound"},
    };
    for (const Case& each : cases) {
        std::vector<std::string> argv = {
            test::cliPath(), "-w", "32", "-h", "24", "-d", "0.2", "-o", dir.file("out.mov")};
        argv.insert(argv.end(), each.arguments.begin(), each.arguments.end());
        argv.push_back(std::string(LUMIVANE_SOURCE_DIR) + "/resources/compositions/demo.qtz");
        const auto run = runProcess(argv, test::withTimeout(120));
        EXPECT_EQ(run.status, each.status) << each.said << "\n" << run.err;
        EXPECT_NE(run.err.find(each.said), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace lumivane
