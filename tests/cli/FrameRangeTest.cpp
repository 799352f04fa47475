// A render split into chunks with --frames gives, file for file, the image
// sequence of the whole render, whatever state the composition carries.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "MovieProbe.h"
#include "ProcessRunner.h"
#include "platform/events/OBEvent.h"
#include "shared/RecordedEvents.h"

namespace lumivane {
namespace {

using test::runProcess;

std::string dataFile(const std::string& name) {
    return std::string(LUMIVANE_SOURCE_DIR) + "/tests/cli/data/" + name;
}

std::set<std::string> filesIn(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return names;
}

// A press, a drag and a key, between frames 3 and 10 at 30 frames a second.
std::string saveGesture(const std::string& path) {
    const auto at = [](double time, Point where, std::shared_ptr<const Event> event) {
        return RecordedEventEntry{std::move(event), where, time};
    };
    const auto mouse = [](int type) {
        return OBEvent::mouseEventWithType(type, {}, 0, 0, 0, 1, 1, 1.0f);
    };
    std::vector<RecordedEventEntry> take = {
        at(0.1, {0.25f, 0.5f}, mouse(NSLeftMouseDown)),
        at(0.2, {0.75f, 0.25f}, mouse(NSLeftMouseDragged)),
        at(0.3, {0.5f, 0.75f},
           OBEvent::keyEventWithType(NSKeyDown, {}, 0, 0, 0, "a", "a", false, 0)),
    };
    EXPECT_TRUE(RecordedEvents::saveRecordedEventsArray(take, 0.4, path));
    return path;
}

struct SplitCase {
    const char* name;
    const char* composition;
    std::vector<std::string> options;
    std::vector<std::string> chunks;  // rendered in this order into one directory
    const char* verboseLine;          // what -v says about the first chunk
    size_t files;                     // the chunks' frames
};

void PrintTo(const SplitCase& split, std::ostream* out) {
    *out << split.name;
}

class SplitRender : public ::testing::TestWithParam<SplitCase> {
protected:
    test::ProcessResult render(const std::string& directory, std::vector<std::string> extra) {
        const SplitCase& split = GetParam();
        std::vector<std::string> argv = {test::cliPath(), "-w", "16",     "-h", "8", "-c",
                                         "public.png",    "-o", directory};
        for (const std::string& option : split.options) {
            if (option == "TAKE") {
                argv.push_back(saveGesture(m_dir.file("take.qtz")));
            } else if (option == "MOVIE") {
                argv.push_back("inputImage=" + countedMovie());
            } else {
                argv.push_back(option);
            }
        }
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(dataFile(split.composition));
        return runProcess(argv, test::withTimeout(120));
    }

    // A movie whose frame k shows k, made once per case.
    std::string countedMovie() {
        const std::string path = m_dir.file("counted.mkv");
        if (std::filesystem::exists(path)) return path;
        EXPECT_EQ(runProcess({test::cliPath(), "-w", "16", "-h", "8", "-f", "10", "-d", "1", "-c",
                              "FFV1", "-o", path, dataFile("counters.qtz")})
                      .status,
                  0);
        return path;
    }

    test::TempDir m_dir;
};

TEST_P(SplitRender, ChunksEqualTheWholeRender) {
    const SplitCase& split = GetParam();
    auto whole = render(m_dir.file("whole"), {});
    ASSERT_EQ(whole.status, 0) << whole.err;
    for (const std::string& chunk : split.chunks) {
        auto part = render(m_dir.file("chunks"), {"-v", "--frames", chunk});
        ASSERT_EQ(part.status, 0) << part.err;
        if (chunk == split.chunks.front()) {
            EXPECT_NE(part.err.find(split.verboseLine), std::string::npos) << part.err;
        }
    }
    const std::set<std::string> all = filesIn(m_dir.file("whole"));
    std::set<std::string> chunks = filesIn(m_dir.file("chunks"));
    // Beside the frames, each chunk's manifest.
    for (const std::string& chunk : split.chunks)
        EXPECT_EQ(chunks.erase(".lumivane-chunk-" + chunk + ".txt"), 1u) << chunk;
    EXPECT_EQ(chunks.size(), split.files);
    for (const std::string& name : chunks) {
        ASSERT_TRUE(all.count(name)) << name << " is no file of the whole render";
        EXPECT_TRUE(test::readFile(m_dir.file("chunks/" + name)) ==
                    test::readFile(m_dir.file("whole/" + name)))
            << name << " differs from the whole render's";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitRender,
    ::testing::Values(
        SplitCase{"PersistentBufferWithBlurStartAndAntialiasing",
                  "accumulate.qtz",
                  {"-f", "10", "-d", "1.2", "-s", "0.5", "-m", "3", "-a", "2"},
                  {"9-12", "1-4", "5-8"},
                  "Frames 9-12 of 12: persistent buffers, so pre-rolling through",
                  12},
        SplitCase{"StatelessAfterAStartTime",
                  "counters.qtz",
                  {"-f", "10", "-d", "1.2", "-s", "0.3", "-m", "3", "-a", "2"},
                  {"5-8"},
                  "Frames 5-8 of 12: the composition keeps no state between frames, so no pre-roll",
                  4},
        SplitCase{"StatelessWithAnEventForTheFirstRender",
                  "counters.qtz",
                  {"-f", "10", "-d", "1", "-m", "2", "-p", "flash=true"},
                  {"4-10", "1-3"},
                  "no state between frames, so no pre-roll",
                  10},
        SplitCase{"MovieSourceWithBlurAtAnotherRate",
                  "filter.qtz",
                  {"-f", "7", "-d", "1.2", "-s", "0.35", "-m", "2", "-p", "MOVIE"},
                  {"5-8", "1-4"},
                  "Frames 5-8 of 8: the composition keeps no state between frames, so no pre-roll",
                  8},
        SplitCase{"RecordedInput",
                  "inputstate.qtz",
                  {"-e", "TAKE", "-m", "2"},
                  {"7-12", "1-6"},
                  "Frames 7-12 of 12: recorded input, so pre-rolling through 12 earlier renders",
                  12}),
    [](const auto& info) { return std::string(info.param.name); });

// What the option answers without rendering: refusals (checked once every
// option is read) and the whole render's frame count.
TEST(FrameRangeOption, AnswersWithoutRendering) {
    test::TempDir dir;
    const std::string take = saveGesture(dir.file("take.qtz"));
    struct Answer {
        std::vector<std::string> arguments;
        int status;
        std::string out;  // of a refusal: how it begins
        std::string err;
    } answers[] = {
        {{"--frames", "x"}, 255, "usage: ", "Incorrectly formatted frame range [x]\n"},
        {{"--frames", "3"}, 255, "usage: ", "Incorrectly formatted frame range [3]\n"},
        {{"--frames", "2-+4"}, 255, "usage: ", "Incorrectly formatted frame range [2-+4]\n"},
        {{"--frames", "1-9999999999"},
         255,
         "usage: ",
         "Incorrectly formatted frame range [1-9999999999]\n"},
        {{"--frames", "0-4"}, 255, "usage: ", "Frames are numbered from 1 [0-4]\n"},
        {{"--frames", "5-3"}, 255, "usage: ", "Frame range ends before it begins [5-3]\n"},
        {{"--frames", "5-900", "-d", "10"},
         255,
         "usage: ",
         "Frames 5-900 are outside the render's 300 frames\n"},
        {{"--framesx", "1-2"}, 255, "usage: ", "Unrecognized option [--framesx]\n"},
        {{"--frames", "count"}, 0, "300\n", ""},
        {{"--frames", "1-2", "--frames", "count", "-f", "29.97", "-d", "0.1"}, 0, "2\n", ""},
        // The recording's length less the start time.
        {{"--frames", "count", "-e", take, "-s", "0.2"}, 0, "6\n", ""},
    };
    for (const Answer& answer : answers) {
        std::vector<std::string> argv = {test::cliPath(), "-c", "public.png", "-o",
                                         dir.file("frames")};
        argv.insert(argv.end(), answer.arguments.begin(), answer.arguments.end());
        argv.push_back(dataFile("counters.qtz"));
        auto result = runProcess(argv);
        EXPECT_EQ(result.status, answer.status) << answer.err;
        EXPECT_EQ(result.out.substr(0, answer.out.size()), answer.out) << answer.err;
        EXPECT_EQ(result.err, answer.err);
        EXPECT_FALSE(std::filesystem::exists(dir.file("frames")));
    }
}

// Other chunks write into the same directory from other machines: a chunk
// removes the partial files of its own frames only, whatever process id
// they carry.
TEST(FrameRangeOption, ChunkRemovesOnlyItsOwnPartialFiles) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.file("frames"));
    const std::vector<std::string> own = {".Image-02.partial-1.png", ".Image-03.partial-77.png"};
    const std::vector<std::string> others = {".Image-05.partial-999999.png",
                                             ".Image-2.partial-77.png", ".Image-01.partial-1.txt"};
    for (const auto& name : own) test::writeFile(dir.file("frames/" + name), "left over");
    for (const auto& name : others) test::writeFile(dir.file("frames/" + name), "someone's");
    auto result = runProcess(
        {test::cliPath(), "-w", "8", "-h", "8", "-f", "10", "-d", "1.2", "-c", "public.png", "-o",
         dir.file("frames"), "--frames", "1-3", dataFile("counters.qtz")},
        test::withTimeout(120));
    ASSERT_EQ(result.status, 0) << result.err;
    std::set<std::string> expected(others.begin(), others.end());
    // Its own frames, and the manifest that says which of which render they are.
    expected.insert({"Image-01.png", "Image-02.png", "Image-03.png", ".lumivane-chunk-1-3.txt"});
    EXPECT_EQ(filesIn(dir.file("frames")), expected);
}

// A chunk's movie holds its frames from time 0 and says which of how many.
TEST(FrameRangeOption, ChunkMovieSaysWhichFramesItHolds) {
    test::TempDir dir;
    const std::string movie = dir.file("chunk.mov");
    auto result = runProcess({test::cliPath(), "-w", "16", "-h", "8", "-f", "10", "-d", "1", "-c",
                              "png ", "-o", movie, "--frames", "4-6", dataFile("counters.qtz")},
                             test::withTimeout(120));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(test::decodedFrames(movie), 3);
    auto probe = test::runShell(
        "ffprobe -v error -show_entries packet=pts -of csv=p=0 " + test::shellQuoted(movie) +
        " | head -1; ffprobe -v error -show_entries format_tags=com.lumivane.chunk -of csv=p=0 " +
        test::shellQuoted(movie));
    EXPECT_EQ(probe.output, "0\n4-6/10\n");
}

}  // namespace
}  // namespace lumivane
