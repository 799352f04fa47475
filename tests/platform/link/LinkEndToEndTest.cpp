// Render jobs run end to end: the test application vends the settings and the
// real renderer renders from them, reporting back over the link.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "ProcessRunner.h"

namespace lumivane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::shellQuoted;

const std::string kCompositions = std::string(LUMIVANE_SOURCE_DIR) + "/resources/compositions/";

struct JobOutput {
    std::vector<nlohmann::json> lines;
    int status = -1;  // the test application's own exit status

    std::vector<nlohmann::json> callbacks() const {
        std::vector<nlohmann::json> found;
        for (const auto& line : lines)
            if (line.contains("callback")) found.push_back(line);
        return found;
    }
    std::optional<int> rendererExit() const {
        for (const auto& line : lines)
            if (line.contains("exit")) return line["exit"].get<int>();
        return std::nullopt;
    }
    bool contains(const char* key) const {
        for (const auto& line : lines)
            if (line.contains(key)) return true;
        return false;
    }
};

class LinkEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* cli = std::getenv("LUMIVANE_CLI");
        m_cli = cli ? cli : "";
        m_app = std::string(LUMIVANE_BINARY_DIR) + "/tests/link_test_app";
        if (m_cli.empty() || !fs::exists(m_cli)) GTEST_SKIP() << "no LumivaneCLI built";
        if (!fs::exists(m_app)) GTEST_SKIP() << "no link_test_app built";
    }

    JobOutput runJob(const std::vector<std::string>& arguments) {
        std::string command = shellQuoted(m_app);
        for (const std::string& argument : arguments) command += " " + shellQuoted(argument);
        command += " " + shellQuoted(m_cli) + " 2>" + shellQuoted(m_dir + "/stderr.txt");
        JobOutput output;
        const test::ShellResult job = test::runShell(command);
        output.status = job.status;
        std::istringstream lines(job.output);
        for (std::string line; std::getline(lines, line);)
            output.lines.push_back(nlohmann::json::parse(line));
        return output;
    }

    static std::vector<std::string> sortedFiles(const std::string& directory) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string m_cli, m_app;
    test::TempDir m_scratch;
    const std::string m_dir = m_scratch.path();
};

TEST_F(LinkEndToEndTest, JobReportsPreparingFramesCompleteAndFinishInOrder) {
    std::string frames = m_dir + "/frames";
    JobOutput job = runJob({"--composition", kCompositions + "paint.qtz", "--movie", frames,
                            "--codec", "public.png", "--width", "64", "--height", "48",
                            "--framerate", "10", "--duration", "1"});
    ASSERT_EQ(job.status, 0) << readFile(m_dir + "/stderr.txt");
    EXPECT_EQ(job.rendererExit(), 0) << readFile(m_dir + "/stderr.txt");
    std::vector<nlohmann::json> calls = job.callbacks();
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(calls.front()["callback"], "indicateStatus:");
    EXPECT_EQ(calls.front()["args"], nlohmann::json::array({"preparing to encode"}));
    size_t last = calls.size() - 1;
    EXPECT_EQ(calls[last]["callback"], "finishedRendering:");
    EXPECT_EQ(calls[last]["args"], nlohmann::json::array());
    EXPECT_EQ(calls[last - 1]["callback"], "enableControls");
    EXPECT_EQ(calls[last - 2]["args"], nlohmann::json::array({"Complete"}));
    EXPECT_EQ(calls[last - 3]["callback"], "indicateFrame:of:");
    EXPECT_EQ(calls[last - 3]["args"], nlohmann::json::array({9, 10}));
    int previous = -1;
    for (size_t i = 1; i < last - 2; ++i) {
        ASSERT_EQ(calls[i]["callback"], "indicateFrame:of:");
        int index = calls[i]["args"][0];
        EXPECT_GE(index, previous);
        EXPECT_EQ(calls[i]["args"][1], 10);
        previous = index;
    }
    ASSERT_TRUE(fs::is_directory(frames));
    EXPECT_EQ(sortedFiles(frames).size(), 10u);
}

// A job that cannot render, because its composition does not load or its
// settings ask for more than a render may do, is one error report and 254.
TEST_F(LinkEndToEndTest, JobThatCannotRenderIsOneErrorReport) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> jobs = {
        {{"--composition", m_dir + "/missing.qtz"}, "Failed to load the Composition"},
        {{"--composition", kCompositions + "trails.qtz", "--start", "1e9"},
         "Too many pre-roll renders: a start time of 1e+09 s is 30000000000 renders"},
        {{"--composition", kCompositions + "demo.qtz", "--duration", "1e12", "--framerate", "1000"},
         "Too many frames: 1000 fps for 1e+12 s is 1000000000000000 frames"},
        {{"--composition", kCompositions + "demo.qtz", "--time-scale", "nan"},
         "The time scale is not a finite number"}};
    for (auto [arguments, error] : jobs) {
        arguments.insert(arguments.end(), {"--movie", m_dir + "/out.mov"});
        JobOutput job = runJob(arguments);
        EXPECT_EQ(job.rendererExit(), 254) << error;
        std::vector<nlohmann::json> calls = job.callbacks();
        ASSERT_EQ(calls.size(), 2u) << error;
        EXPECT_EQ(calls[0]["args"], nlohmann::json::array({"preparing to encode"}));
        EXPECT_EQ(calls[1]["callback"], "indicateError:");
        EXPECT_EQ(calls[1]["args"][0].get<std::string>().rfind(error, 0), 0u) << calls[1];
        EXPECT_FALSE(fs::exists(m_dir + "/out.mov"));
    }
}

TEST_F(LinkEndToEndTest, ApplicationVanishingEndsTheRenderWithAPlayableMovie) {
    std::string movie = m_dir + "/vanish.mov";
    JobOutput job = runJob({"--composition", kCompositions + "paint.qtz", "--movie", movie,
                            "--width", "64", "--height", "48", "--framerate", "30", "--duration",
                            "60", "--quit-after-frames", "1"});
    ASSERT_EQ(job.status, 0) << readFile(m_dir + "/stderr.txt");
    EXPECT_TRUE(job.contains("server_closed"));
    EXPECT_EQ(job.rendererExit(), 0) << readFile(m_dir + "/stderr.txt");
    ASSERT_TRUE(fs::exists(movie));
    EXPECT_GT(fs::file_size(movie), 0u);
    if (std::system("ffprobe -version > /dev/null 2>&1") == 0) {
        const test::ShellResult streams = test::runShell(
            "ffprobe -v error -show_entries stream=codec_type -of csv " + shellQuoted(movie));
        EXPECT_EQ(streams.status, 0);
        EXPECT_NE(streams.output.find("video"), std::string::npos) << streams.output;
    }
}

TEST_F(LinkEndToEndTest, RefusedStatusReportFailsTheRender) {
    JobOutput job = runJob({"--composition", kCompositions + "paint.qtz", "--movie",
                            m_dir + "/refused.mov", "--fail", "indicateStatus:"});
    EXPECT_EQ(job.rendererExit(), 254);
    std::vector<nlohmann::json> calls = job.callbacks();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["callback"], "indicateStatus:");
}

TEST_F(LinkEndToEndTest, RecordingAndInputsHandedOverRenderAsFromTheCommandLine) {
    std::string viaLink = m_dir + "/link";
    std::string viaOptions = m_dir + "/options";
    std::string composition = kCompositions + "paint.qtz";
    std::string recording = kCompositions + "paint.QCRecording";
    JobOutput job = runJob({"--composition", composition, "--movie", viaLink, "--codec",
                            "public.png", "--width", "96", "--height", "64", "--framerate", "10",
                            "--duration", "2", "--events", recording, "-p", "brushSize=0.05"});
    ASSERT_EQ(job.rendererExit(), 0) << readFile(m_dir + "/stderr.txt");
    const test::ShellResult direct = test::runShell(
        shellQuoted(m_cli) + " -o " + shellQuoted(viaOptions) +
        " -c public.png -w 96 -h 64 -f 10 -d 2 -p brushSize=0.05 -e " + shellQuoted(recording) +
        " " + shellQuoted(composition) + " > /dev/null 2>&1");
    ASSERT_EQ(direct.status, 0);
    std::vector<std::string> files = sortedFiles(viaLink);
    ASSERT_EQ(files, sortedFiles(viaOptions));
    ASSERT_EQ(files.size(), 20u);
    for (const std::string& file : files)
        EXPECT_EQ(readFile(viaLink + "/" + file), readFile(viaOptions + "/" + file)) << file;
}

}  // namespace
}  // namespace lumivane

namespace lumivane {
namespace {

TEST_F(LinkEndToEndTest, FrameReportsComeAQuarterSecondApartAndAlwaysForTheLastFrame) {
    // Long enough that several reports fall due, whatever the machine's speed.
    JobOutput job = runJob({"--composition", kCompositions + "demo.qtz", "--movie",
                            m_dir + "/frames", "--codec", "public.png", "--width", "320",
                            "--height", "240", "--framerate", "30", "--duration", "3"});
    ASSERT_EQ(job.rendererExit(), 0) << readFile(m_dir + "/stderr.txt");
    std::vector<nlohmann::json> frames;
    for (const auto& call : job.callbacks())
        if (call["callback"] == "indicateFrame:of:") frames.push_back(call);
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames.back()["args"], nlohmann::json::array({89, 90}));
    EXPECT_LT(frames.size(), 90u) << "reports are throttled, not one per frame";
    // Between reports, more than 0.25 s passes in the renderer; the application
    // sees them at least about that far apart (less a little for the link).
    for (size_t i = 1; i + 1 < frames.size(); ++i) {
        double gap = (frames[i]["t"].get<double>() - frames[i - 1]["t"].get<double>()) * 1e-9;
        EXPECT_GT(gap, 0.2) << "report " << i;
    }
}

TEST_F(LinkEndToEndTest, EachFailureSendsItsErrorText) {
    struct Case {
        std::vector<std::string> settings;
        const char* error;
    } cases[] = {
        {{"--width", "100000", "--height", "100000"}, "Failed to create offscreen renderer"},
        {{"--codec", "zzzz"}, "failed to create movie"},
        {{"--codec", "public.png", "--movie", "/proc/lumivane-cannot-be-here"},
         "failed to create movie"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = {"--composition", kCompositions + "demo.qtz",
                                              "--movie",       m_dir + "/out.mov",
                                              "--duration",    "0.1"};
        arguments.insert(arguments.end(), c.settings.begin(), c.settings.end());
        JobOutput job = runJob(arguments);
        EXPECT_EQ(job.rendererExit(), 254) << c.error;
        auto calls = job.callbacks();
        ASSERT_EQ(calls.size(), 2u) << c.error;
        EXPECT_EQ(calls[1]["callback"], "indicateError:");
        EXPECT_EQ(calls[1]["args"], nlohmann::json::array({c.error}));
    }
}

}  // namespace
}  // namespace lumivane
