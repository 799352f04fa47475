// The option scan of LumivaneCLI, in process: what lands in the settings record.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ProcessRunner.h"
#include "cli/CommandLine.h"
#include "cli/RendererState.h"
#include "shared/RecordedEvents.h"

namespace lumivane {
namespace {

struct ScanResult {
    std::optional<int> stop;
    std::string out;
    std::string err;
};

std::string drain(FILE* file) {
    std::string text;
    rewind(file);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    fclose(file);
    return text;
}

ScanResult scan(std::vector<std::string> args, RenderSettings& settings) {
    args.insert(args.begin(), "LumivaneCLI");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    applyRendererDefaults(settings);
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    ScanResult result;
    result.stop = scanCommandLine(static_cast<int>(argv.size()), argv.data(), settings, out, err);
    result.out = drain(out);
    result.err = drain(err);
    return result;
}

TEST(CommandLine, DefaultsMatchTheHelpText) {
    RenderSettings s;
    auto r = scan({"scene.qtz"}, s);
    EXPECT_FALSE(r.stop);
    EXPECT_EQ(s.width(), "640");
    EXPECT_EQ(s.height(), "480");
    EXPECT_EQ(s.codec(), "avc1");
    EXPECT_EQ(s.framerate(), 30.0);
    EXPECT_EQ(s.duration(), 10.0);
    EXPECT_EQ(s.quality(), 3);
    EXPECT_EQ(s.moviePath(), "LumivaneRender.mov");
    EXPECT_EQ(s.motionBlur(), 0);
    EXPECT_EQ(s.AA(), 1.0);
    EXPECT_EQ(s.startTime(), 0.0);
    EXPECT_EQ(s.timeScale(), 1.0);
    EXPECT_EQ(s.compositionFile(), "scene.qtz");
    EXPECT_FALSE(s.inputValues());
    EXPECT_FALSE(s.events());
}

TEST(CommandLine, OptionsMatchByPrefix) {
    RenderSettings s;
    ASSERT_FALSE(scan({"-hx", "100", "-width", "320", "a.qtz"}, s).stop);
    EXPECT_EQ(s.height(), "100");
    EXPECT_EQ(s.width(), "320");

    ASSERT_FALSE(scan({"-height", "90", "a.qtz"}, s).stop);
    EXPECT_EQ(s.height(), "90");

    ASSERT_FALSE(scan({"-verbose", "a.qtz"}, s).stop);
    EXPECT_EQ(verbosityLevel(), 7);
    ASSERT_FALSE(scan({"-v", "-vvv", "a.qtz"}, s).stop);
    EXPECT_EQ(verbosityLevel(), 4);
}

TEST(CommandLine, ValueOptionTakesWhateverFollows) {
    RenderSettings s;
    ASSERT_FALSE(scan({"-o", "-w", "a.qtz"}, s).stop);
    EXPECT_EQ(s.moviePath(), "-w");
    EXPECT_EQ(s.width(), "640");
}

TEST(CommandLine, NumericConversionsTakeTheLeadingNumber) {
    RenderSettings s;
    ASSERT_FALSE(scan({"-f", "29.97fps", "-q", "high", "-w", "640px", "-a", "2x", "-m", "4b", "-l",
                       "-2", "a.qtz"},
                      s)
                     .stop);
    EXPECT_DOUBLE_EQ(s.framerate(), 29.97);
    EXPECT_EQ(s.quality(), 0);
    EXPECT_EQ(s.width(), "640px");
    EXPECT_EQ(s.AA(), 2.0);
    EXPECT_EQ(s.motionBlur(), 4);
    EXPECT_EQ(s.timeScale(), -2.0);
}

TEST(CommandLine, NegativeStartTimeBecomesZero) {
    RenderSettings s;
    ASSERT_FALSE(scan({"-s", "-3", "a.qtz"}, s).stop);
    EXPECT_EQ(s.startTime(), 0.0);
    ASSERT_FALSE(scan({"-s", "1.5", "a.qtz"}, s).stop);
    EXPECT_EQ(s.startTime(), 1.5);
}

TEST(CommandLine, ParametersSplitAtTheFirstEquals) {
    RenderSettings s;
    ASSERT_FALSE(
        scan({"-p", "speed=1.5=2", "-p", "=ab", "-p", "ab=", "-p", "speed=3", "a.qtz"}, s).stop);
    auto inputValues = s.inputValues();
    ASSERT_TRUE(inputValues);
    const PlistDict* values = inputValues->asDict();
    ASSERT_TRUE(values);
    ASSERT_EQ(values->size(), 3u);
    EXPECT_EQ(*values->find("speed"), PlistValue("3"));
    EXPECT_EQ(*values->find(""), PlistValue("ab"));
    EXPECT_EQ(*values->find("ab"), PlistValue(""));
}

TEST(CommandLine, MalformedParametersFail) {
    for (const char* bad : {"ab", "a=", "abc"}) {
        RenderSettings s;
        auto r = scan({"-p", bad, "a.qtz"}, s);
        EXPECT_EQ(r.stop, -1) << bad;
        EXPECT_EQ(r.err, std::string("Incorrectly formatted parameter [") + bad + "]\n");
        EXPECT_NE(r.out.find("usage: LumivaneCLI [options] [Composition File]\n"),
                  std::string::npos);
    }
}

TEST(CommandLine, ValidationMessages) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-w", "0"}, "Width must be positive (and non-zero)\n"},
        {{"-w", "-5"}, "Width must be positive (and non-zero)\n"},
        {{"-w", "abc"}, "Width must be positive (and non-zero)\n"},
        {{"-h", "0"}, "Height must be positive (and non-zero)\n"},
        {{"-f", "0"}, "Framerate must be positive (and non-zero)\n"},
        {{"-f", "nan"}, "Framerate must be positive (and non-zero)\n"},
        {{"-f", "inf"}, "Framerate must be positive (and non-zero)\n"},
        {{"-d", "-1"}, "Duration must be positive (and non-zero)\n"},
        {{"-d", "0"}, "Duration must be positive (and non-zero)\n"},
        {{"-x"}, "Unrecognized option [-x]\n"},
        {{"a.qtz", "-o"}, "Unrecognized option [-o]\n"},
        {{"a.qtz", "b.qtz"}, "Only one composition can be specified [b.qtz]\n"},
        {{"-o", "x.mov"}, "No composition file specified\n"},
        // The first error in argument order wins.
        {{"-w", "0", "-h", "0", "a.qtz"}, "Width must be positive (and non-zero)\n"},
    };
    for (const Case& c : cases) {
        RenderSettings s;
        auto r = scan(c.args, s);
        EXPECT_EQ(r.stop, -1) << c.message;
        EXPECT_EQ(r.err, c.message);
    }
}

TEST(CommandLine, DurationRules) {
    test::TempDir dir;
    std::string composition = dir.file("take.qtz");
    std::vector<RecordedEventEntry> none;
    ASSERT_TRUE(RecordedEvents::saveRecordedEventsArray(none, 12.5, composition));

    RenderSettings s;
    ASSERT_FALSE(scan({"-e", composition, "-s", "2", "a.qtz"}, s).stop);
    EXPECT_DOUBLE_EQ(s.duration(), 10.5);

    ASSERT_FALSE(scan({"-d", "5", "-e", composition, "a.qtz"}, s).stop);
    EXPECT_DOUBLE_EQ(s.duration(), 5.0);
    ASSERT_FALSE(scan({"-e", composition, "-d", "5", "a.qtz"}, s).stop);
    EXPECT_DOUBLE_EQ(s.duration(), 5.0);

    // The -e argument names the recording of that composition, with any extension.
    ASSERT_FALSE(scan({"-e", dir.file("take"), "a.qtz"}, s).stop);
    EXPECT_DOUBLE_EQ(s.duration(), 12.5);
    ASSERT_FALSE(scan({"-e", dir.file("take.QCRecording"), "a.qtz"}, s).stop);
    EXPECT_DOUBLE_EQ(s.duration(), 12.5);

    RenderSettings missing;
    ASSERT_FALSE(scan({"-e", dir.file("nothing.qtz"), "a.qtz"}, missing).stop);
    EXPECT_DOUBLE_EQ(missing.duration(), 10.0);
    ASSERT_TRUE(missing.events());
    EXPECT_TRUE(missing.events()->empty());

    // A start time past the recording's end leaves nothing to render.
    RenderSettings late;
    ASSERT_FALSE(scan({"-e", composition, "-s", "20", "a.qtz"}, late).stop);
    EXPECT_DOUBLE_EQ(late.duration(), -7.5);
}

}  // namespace
}  // namespace lumivane
