// A render split into chunks with --frames gives, file for file, the image
// sequence of the whole render, whatever state the composition carries.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

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
    RecordedEvents::saveRecordedEventsArray(take, 0.4, path);
    return path;
}

struct SplitCase {
    const char* name;
    const char* composition;
    std::vector<std::string> options;
    std::vector<std::string> chunks;  // rendered in this order into one directory
    const char* verboseLine;          // what -v says about the first chunk
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
        for (const std::string& option : split.options)
            argv.push_back(option == "TAKE" ? saveGesture(m_dir.file("take.qtz")) : option);
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(dataFile(split.composition));
        return runProcess(argv, test::withTimeout(120));
    }

    test::TempDir m_dir;
};

TEST_P(SplitRender, ChunksEqualTheWholeRender) {
    const SplitCase& split = GetParam();
    auto whole = render(m_dir.file("whole"), {});
    ASSERT_EQ(whole.status, 0) << whole.err;
    std::set<std::string> written;
    for (const std::string& chunk : split.chunks) {
        auto part = render(m_dir.file("chunks"), {"-v", "--frames", chunk});
        ASSERT_EQ(part.status, 0) << part.err;
        if (chunk == split.chunks.front()) {
            EXPECT_NE(part.err.find(split.verboseLine), std::string::npos) << part.err;
        }
    }
    const std::set<std::string> all = filesIn(m_dir.file("whole"));
    for (const std::string& name : filesIn(m_dir.file("chunks"))) {
        ASSERT_TRUE(all.count(name)) << name << " is no file of the whole render";
        EXPECT_TRUE(test::readFile(m_dir.file("chunks/" + name)) ==
                    test::readFile(m_dir.file("whole/" + name)))
            << name << " differs from the whole render's";
        written.insert(name);
    }
    int expected = 0;
    for (const std::string& chunk : split.chunks)
        expected += std::stoi(chunk.substr(chunk.find('-') + 1)) - std::stoi(chunk) + 1;
    EXPECT_EQ(static_cast<int>(written.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitRender,
    ::testing::Values(
        SplitCase{"PersistentBufferWithBlurStartAndAntialiasing",
                  "accumulate.qtz",
                  {"-f", "10", "-d", "1.2", "-s", "0.5", "-m", "3", "-a", "2"},
                  {"9-12", "1-4", "5-8"},
                  "Frames 9-12 of 12: persistent buffers, so pre-rolling through"},
        SplitCase{
            "StatelessAfterAStartTime",
            "counters.qtz",
            {"-f", "10", "-d", "1.2", "-s", "0.3", "-m", "3", "-a", "2"},
            {"5-8"},
            "Frames 5-8 of 12: the composition keeps no state between frames, so no pre-roll"},
        SplitCase{"StatelessWithAnEventForTheFirstRender",
                  "counters.qtz",
                  {"-f", "10", "-d", "1", "-m", "2", "-p", "flash=true"},
                  {"4-10", "1-3"},
                  "no state between frames, so no pre-roll"},
        SplitCase{"RecordedInput",
                  "inputstate.qtz",
                  {"-e", "TAKE", "-m", "2"},
                  {"7-12", "1-6"},
                  "Frames 7-12 of 12: recorded input, so pre-rolling through 12 earlier renders"}),
    [](const auto& info) { return std::string(info.param.name); });

struct Refusal {
    std::vector<std::string> arguments;
    const char* message;
};

TEST(FrameRangeOption, BadRangesAreRefusedBeforeRendering) {
    test::TempDir dir;
    const std::vector<Refusal> refusals = {
        {{"--frames", "x"}, "Incorrectly formatted frame range [x]\n"},
        {{"--frames", "3"}, "Incorrectly formatted frame range [3]\n"},
        {{"--frames", "2-+4"}, "Incorrectly formatted frame range [2-+4]\n"},
        {{"--frames", "1-99999999999"}, "Incorrectly formatted frame range [1-99999999999]\n"},
        {{"--frames", "0-4"}, "Frames are numbered from 1 [0-4]\n"},
        {{"--frames", "5-3"}, "Frame range ends before it begins [5-3]\n"},
        // Checked once every option is read: -d comes after.
        {{"--frames", "5-900", "-d", "10"}, "Frames 5-900 are outside the render's 300 frames\n"},
        {{"--framesx", "1-2"}, "Unrecognized option [--framesx]\n"},
    };
    for (const Refusal& refusal : refusals) {
        std::vector<std::string> argv = {test::cliPath(), "-c", "public.png", "-o",
                                         dir.file("frames")};
        argv.insert(argv.end(), refusal.arguments.begin(), refusal.arguments.end());
        argv.push_back(dataFile("counters.qtz"));
        auto result = runProcess(argv);
        EXPECT_EQ(result.status, 255) << refusal.message;
        EXPECT_EQ(result.err, refusal.message);
        EXPECT_FALSE(std::filesystem::exists(dir.file("frames")));
    }
}

TEST(FrameRangeOption, CountIsTheWholeRendersFrameCount) {
    test::TempDir dir;
    const std::string take = saveGesture(dir.file("take.qtz"));
    const std::string composition = dataFile("counters.qtz");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--frames", "count", composition}, "300\n"},
        {{"--frames", "count", "-f", "25", "-d", "2", composition}, "50\n"},
        {{"--frames", "1-2", "--frames", "count", "-f", "29.97", "-d", "0.1", composition}, "2\n"},
        // The recording's length, less the start time, once the recording is read.
        {{"--frames", "count", "-e", take, "-s", "0.2", composition}, "6\n"},
    };
    for (const auto& [arguments, count] : cases) {
        std::vector<std::string> argv = {test::cliPath()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        auto result = runProcess(argv);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, count);
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
    expected.insert({"Image-01.png", "Image-02.png", "Image-03.png"});
    EXPECT_EQ(filesIn(dir.file("frames")), expected);
}

// The frames' checksums, one a line, as FFmpeg decodes them.
std::vector<std::string> frameChecksums(const std::string& movie) {
    auto listed = test::runShell("ffmpeg -v error -i " + test::shellQuoted(movie) +
                                 " -f framemd5 - | grep -v '^#' | sed 's/.*, *//'");
    std::vector<std::string> sums;
    for (size_t at = 0, end; (end = listed.output.find('\n', at)) != std::string::npos;
         at = end + 1)
        sums.push_back(listed.output.substr(at, end - at));
    return sums;
}

// A chunk's movie holds its own frames from time 0, decoding to the whole
// movie's, and says which frames of how many they are.
TEST(FrameRangeOption, ChunkMovieHoldsItsFramesAndSaysWhichTheyAre) {
    test::TempDir dir;
    const auto render = [&](const std::string& movie, std::vector<std::string> extra) {
        std::vector<std::string> argv = {
            test::cliPath(), "-w", "16",  "-h", "8",         "-f", "10", "-d", "1", "-m", "2", "-c",
            "png ",          "-o", movie, "-p", "flash=true"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(dataFile("counters.qtz"));
        return runProcess(argv, test::withTimeout(120));
    };
    ASSERT_EQ(render(dir.file("whole.mov"), {}).status, 0);
    auto chunk = render(dir.file("chunk.mov"), {"--frames", "4-6"});
    ASSERT_EQ(chunk.status, 0) << chunk.err;
    const auto whole = frameChecksums(dir.file("whole.mov"));
    ASSERT_EQ(whole.size(), 10u);
    EXPECT_EQ(frameChecksums(dir.file("chunk.mov")),
              std::vector<std::string>(whole.begin() + 3, whole.begin() + 6));
    auto probe = test::runShell(
        "ffprobe -v error -select_streams v:0 -show_entries packet=pts -of csv=p=0 " +
        test::shellQuoted(dir.file("chunk.mov")) + " | head -1; ffprobe -v error -show_entries " +
        "format_tags=com.lumivane.chunk -of csv=p=0 " + test::shellQuoted(dir.file("chunk.mov")));
    EXPECT_EQ(probe.output, "0\n4-6/10\n");
}

}  // namespace
}  // namespace lumivane
