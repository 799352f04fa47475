// A render stopped from outside never leaves an unplayable movie.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "LinkTestSupport.h"
#include "MovieProbe.h"
#include "ProcessRunner.h"
#include "platform/link/RegistryDirectory.h"
#include "platform/link/RenderServiceName.h"

namespace lumivane {
namespace {

using test::decodedFrames;
using test::runProcess;

std::string compositionNamed(const std::string& name) {
    return std::string(LUMIVANE_SOURCE_DIR) + "/resources/compositions/" + name;
}

std::string demo() {
    return compositionNamed("demo.qtz");
}

int frameLines(const std::string& out) {
    int count = 0;
    for (size_t at = 0; (at = out.find("Frame ", at)) != std::string::npos; ++at) ++count;
    return count;
}

std::string heldLine(int held, int total) {
    return "the output holds " + std::to_string(held) + " of " + std::to_string(total) + " frames";
}

std::vector<std::string> hiddenFiles(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        if (entry.path().filename().string()[0] == '.') names.push_back(entry.path().filename());
    return names;
}

// True once the process has its handler for `signalNumber` in place (the
// kernel's SigCgt mask), so a signal sent now reaches the renderer's own code.
bool catches(int pid, int signalNumber) {
    const std::string status = test::readFile("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("SigCgt:\t");
    if (at == std::string::npos) return false;
    const unsigned long long mask = std::stoull(status.substr(at + 8, 16), nullptr, 16);
    return (mask >> (signalNumber - 1)) & 1;
}

// How users and schedulers stop a render: one signal, the application's quit
// (SIGINT and at once SIGTERM), two Ctrl-C, a closed terminal.
struct StopCase {
    const char* name;
    std::vector<int> signals;  // sent back to back
    int atFrame;               // after this frame's console line
    int status = 0;            // a fault signal from outside ends the process by it
};

void PrintTo(const StopCase& stop, std::ostream* out) {
    *out << stop.name;
}

class Termination : public ::testing::TestWithParam<StopCase> {
protected:
    test::TempDir m_dir;
};

TEST_P(Termination, StopFinishesTheMovieWithEveryFrameReported) {
    const StopCase& stop = GetParam();
    std::string movie = m_dir.file("stopped.mov");
    std::string errors = m_dir.file("stderr.txt");
    test::ChildProcess cli(
        {test::cliPath(), "-vv", "-w", "160", "-h", "120", "-d", "60", "-o", movie, demo()},
        errors);
    ASSERT_TRUE(cli.waitForLine("Frame " + std::to_string(stop.atFrame) + " of", 60)) << cli.out();
    for (int signalNumber : stop.signals) cli.signal(signalNumber);
    EXPECT_EQ(cli.wait(), stop.status);
    int written = frameLines(cli.out());
    EXPECT_GE(written, stop.atFrame);
    EXPECT_EQ(decodedFrames(movie), written);
    EXPECT_TRUE(test::isFinishedMovie(movie));
    EXPECT_NE(test::readFile(errors).find(heldLine(written, 1800)), std::string::npos)
        << test::readFile(errors);
    EXPECT_EQ(hiddenFiles(m_dir.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Stops, Termination,
    ::testing::Values(StopCase{"Terminate", {SIGTERM}, 12}, StopCase{"Interrupt", {SIGINT}, 12},
                      StopCase{"Hangup", {SIGHUP}, 12},
                      StopCase{"QuitBeforeTheFirstFragment", {SIGINT, SIGTERM}, 3},
                      StopCase{"TwoInterrupts", {SIGINT, SIGINT}, 40},
                      StopCase{"SentFault", {SIGSEGV}, 12, 128 + SIGSEGV}),
    [](const auto& info) { return std::string(info.param.name); });

// A signal the caller ignored when it started the renderer (nohup's SIGHUP,
// `trap '' INT`, a script's background job) stays ignored, however early it
// comes: at once, at 50 ms, at 300 ms and mid-render, the render goes on to
// its last frame.
class TerminationIgnored : public ::testing::TestWithParam<int> {};

TEST_P(TerminationIgnored, IgnoredAtStartStaysIgnored) {
    const int signalNumber = GetParam();
    test::TempDir dir;
    const std::string movie = dir.file("kept.mov");
    const std::string errors = dir.file("stderr.txt");
    test::ProcessOptions options;
    options.ignoredSignals = {signalNumber};
    test::ChildProcess cli(
        {test::cliPath(), "-vv", "-w", "64", "-h", "48", "-d", "10", "-o", movie, demo()}, errors,
        options);
    for (useconds_t pause : {0, 50000, 250000}) {
        usleep(pause);
        cli.signal(signalNumber);
    }
    ASSERT_TRUE(cli.waitForLine("Frame 150 of", 60)) << cli.out();
    cli.signal(signalNumber);
    EXPECT_EQ(cli.wait(), 0);
    EXPECT_EQ(frameLines(cli.out()), 300);
    EXPECT_EQ(decodedFrames(movie), 300);
    EXPECT_EQ(test::readFile(errors).find("stopped"), std::string::npos) << test::readFile(errors);
}

INSTANTIATE_TEST_SUITE_P(Dispositions, TerminationIgnored, ::testing::Values(SIGHUP, SIGINT),
                         [](const auto& info) { return std::string(strsignal(info.param)); });

// A copy of the renderer in a tree of its own, whose image module is what the
// test makes of it: absent, or a copy it may damage.
class PrivateRenderer {
public:
    explicit PrivateRenderer(bool withImageModule) {
        std::filesystem::create_directories(m_dir.file("bin"));
        std::filesystem::copy_file(test::cliPath(), cli());
        if (!withImageModule) return;
        std::filesystem::create_directories(m_dir.file("lib/lumivane"));
        std::filesystem::copy_file(
            std::filesystem::path(test::cliPath()).parent_path().parent_path() / kModule, module());
    }
    std::string cli() const { return m_dir.file("bin/LumivaneCLI"); }
    std::string module() const { return m_dir.file(kModule); }

private:
    static constexpr const char* kModule = "lib/lumivane/liblumivane_imagefiles.so";
    test::TempDir m_dir;
};

// A fault of the renderer's own (its image module truncated under it, as a
// failing disk or a careless upgrade does) never reads as success.
TEST(TerminationFault, OwnFaultEndsTheProcessByItsSignal) {
    PrivateRenderer renderer(true);
    test::TempDir dir;
    const std::string errors = dir.file("stderr.txt");
    // TIFF frames go through the module (PNG frames do not).
    test::ChildProcess cli({renderer.cli(), "-vv", "-w", "64", "-h", "48", "-d", "60", "-c",
                            "public.tiff", "-o", dir.file("frames"), demo()},
                           errors);
    ASSERT_TRUE(cli.waitForLine("Frame 5 of", 60)) << cli.out();
    std::filesystem::resize_file(renderer.module(), 0);
    EXPECT_EQ(cli.wait(), 128 + SIGBUS);
    EXPECT_NE(test::readFile(errors).find("ended by signal 7 (Bus error)"), std::string::npos)
        << test::readFile(errors);
    EXPECT_EQ(hiddenFiles(dir.file("frames")), std::vector<std::string>{});
}

// Once the completed movie is being rewritten, a second stop leaves at once:
// the fragmented movie already holds every frame, and the half-built copy goes.
TEST(TerminationRewrite, SecondStopDuringTheRewriteKeepsEveryFrame) {
    test::TempDir dir;
    std::string movie = dir.file("big.mov");
    std::string errors = dir.file("stderr.txt");
    // Uncompressed frames make a rewrite long enough to be caught in the act.
    test::ChildProcess cli({test::cliPath(), "-vv", "-c", "raw ", "-w", "640", "-h", "480", "-d",
                            "60", "-o", movie, demo()},
                           errors);
    ASSERT_TRUE(cli.waitForLine("Frame 90 of", 120)) << cli.out();
    cli.signal(SIGTERM);
    bool caught = false;
    for (int i = 0; i < 30000 && !caught; ++i) {
        for (const std::string& name : hiddenFiles(dir.path()))
            caught = caught || name.rfind(".big.mov.rewrite-", 0) == 0;
        if (!caught) usleep(1000);
    }
    ASSERT_TRUE(caught) << "the rewrite was never seen";
    cli.signal(SIGTERM);
    EXPECT_EQ(cli.wait(), 0);
    const int written = frameLines(cli.out());
    EXPECT_EQ(decodedFrames(movie), written);
    EXPECT_EQ(hiddenFiles(dir.path()), std::vector<std::string>{});
    EXPECT_NE(
        test::readFile(errors).find("stopped at once by signal 15; " + heldLine(written, 1800)),
        std::string::npos)
        << test::readFile(errors);
}

// A reader that goes away (`| head`) must not take the render with it.
TEST(TerminationPipe, ClosedConsoleKeepsRendering) {
    test::TempDir dir;
    std::string movie = dir.file("piped.mov");
    auto shell =
        test::runShell("{ " + test::shellQuoted(test::cliPath()) + " -vv -w 64 -h 48 -d 2 -o " +
                       test::shellQuoted(movie) + " " + test::shellQuoted(demo()) + "; echo $? > " +
                       test::shellQuoted(dir.file("status")) + "; } 2>/dev/null | head -3");
    EXPECT_EQ(shell.output,
              "Frame 1 of 60 (0.000%)\nFrame 2 of 60 (1.667%)\nFrame 3 of 60 (3.333%)\n");
    EXPECT_EQ(test::readFile(dir.file("status")), "0\n");
    EXPECT_EQ(decodedFrames(movie), 60);
    EXPECT_TRUE(test::isFinishedMovie(movie));
}

// Every wait notices a stop long before it would have ended by itself.
class TerminationWait : public test::RegistryTest {
protected:
    // Stops the renderer once `ready` has seen it get going; returns its stderr.
    std::string stopAndCollect(test::ChildProcess& cli, const std::string& errors) {
        cli.signal(SIGTERM);
        EXPECT_EQ(cli.wait(10), 0) << "the stop was not noticed within 10 s";
        return test::readFile(errors);
    }
    test::TempDir m_dir;
};

TEST_F(TerminationWait, LongPreRollReportsProgressAndStops) {
    std::string movie = m_dir.file("never.mov");
    std::string errors = m_dir.file("stderr.txt");
    // A composition with persistent buffers pre-rolls; 9 million renders are allowed.
    test::ChildProcess cli({test::cliPath(), "-vv", "-w", "64", "-h", "48", "-d", "2", "-s", "3e5",
                            "-o", movie, compositionNamed("trails.qtz")},
                           errors);
    ASSERT_TRUE(cli.waitForLine("Pre-roll 0.000 of 300000.000 s", 60)) << cli.out();
    std::string stderrText = stopAndCollect(cli, errors);
    EXPECT_NE(stderrText.find(heldLine(0, 60)), std::string::npos) << stderrText;
    EXPECT_FALSE(std::filesystem::exists(movie));
}

TEST_F(TerminationWait, SilentApplicationDoesNotHoldTheStop) {
    ASSERT_TRUE(RegistryDirectory::ensure());
    const std::string name = makeRenderServiceName();
    UniqueFd listener = test::bindRaw(name);
    ASSERT_TRUE(listener);
    ASSERT_EQ(::listen(listener.get(), 4), 0);
    std::string errors = m_dir.file("stderr.txt");
    test::ChildProcess cli({test::cliPath(), "QCServerConnection", name}, errors);
    // Connected and waiting for an answer that never comes.
    UniqueFd peer(::accept(listener.get(), nullptr, nullptr));
    ASSERT_TRUE(peer);
    usleep(300000);
    std::string stderrText = stopAndCollect(cli, errors);
    EXPECT_NE(stderrText.find("stopped by signal 15 (Terminated) before rendering began"),
              std::string::npos)
        << stderrText;
}

TEST_F(TerminationWait, LargeRecordingLoadStops) {
    std::string recording = m_dir.file("take.QCRecording");
    std::string events;
    for (int i = 0; i < 200000; ++i) {
        events += "<key>" + std::to_string(i) +
                  ".5</key><dict><key>type</key>"
                  "<string>NSMouseMoved</string><key>QCRendererMouseLocationKey</key>"
                  "<string>{0.1, 0.7}</string></dict>\n";
    }
    test::writeFile(recording,
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                    "<key>takes</key><dict><key>default</key><dict>" +
                        events +
                        "</dict></dict><key>totalSec</key><real>200000</real></dict></plist>\n");
    std::string errors = m_dir.file("stderr.txt");
    test::ChildProcess cli({test::cliPath(), "-vv", "-e", recording, "-w", "64", "-h", "48", "-o",
                            m_dir.file("take.mov"), demo()},
                           errors);
    for (int i = 0; i < 1000 && !catches(cli.pid(), SIGTERM); ++i) usleep(10000);
    usleep(200000);  // well into reading the recording
    std::string stderrText = stopAndCollect(cli, errors);
    EXPECT_NE(stderrText.find("stopped by signal 15 (Terminated) before rendering began"),
              std::string::npos)
        << stderrText;
}

// An imported image that is a FIFO would block the load for ever.
TEST(TerminationInput, ImportedFifoIsRefusedAtOnce) {
    test::TempDir dir;
    std::filesystem::copy_file(
        std::string(LUMIVANE_SOURCE_DIR) + "/resources/compositions/postcard.qtz",
        dir.file("postcard.qtz"));
    ASSERT_EQ(::mkfifo(dir.file("lumivane-badge.png").c_str(), 0600), 0);
    auto result = runProcess({test::cliPath(), "-w", "64", "-h", "48", "-d", "1", "-o",
                              dir.file("out.mov"), dir.file("postcard.qtz")},
                             test::withTimeout(30));
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, 254);
    EXPECT_NE(result.err.find("is not a regular file"), std::string::npos) << result.err;
}

// What would make a render endless, or fail only after a long pre-roll, or
// quietly leave out what it was asked for, is refused before any of it; a
// start time that asks for no pre-roll renders at once.
struct RefusalCase {
    const char* name;
    std::vector<std::string> arguments;  // the demo is the composition unless one is named
    int status;
    const char* message;  // on standard error; with status 0, the frames are checked
    bool withoutImageModule = false;
};

void PrintTo(const RefusalCase& refusal, std::ostream* out) {
    *out << refusal.name;
}

class TerminationRefusal : public ::testing::TestWithParam<RefusalCase> {
protected:
    // Placeholders in the arguments, made real in the test's directory.
    std::string resolve(std::string argument) {
        if (argument == "RECORDING") return recording("endless", "inf");
        if (argument == "LONGRECORDING") return recording("long", "1e300");
        if (argument == "TRAILS") return compositionNamed("trails.qtz");
        if (argument == "TEXTINPUT") return composition("caption", "text", "Greetings");
        if (argument.rfind("PLAINFILE", 0) == 0) {
            test::writeFile(m_dir.file("plain.txt"), "not a directory");
            argument.replace(0, 9, m_dir.file("plain.txt"));
        }
        return argument;
    }
    std::string recording(const std::string& name, const std::string& total) {
        const std::string path = m_dir.file(name + ".QCRecording");
        test::writeFile(path,
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist "
                        "version=\"1.0\"><dict><key>takes</key><dict><key>default</key>"
                        "<dict/></dict><key>totalSec</key><real>" +
                            total + "</real></dict></plist>\n");
        return path;
    }
    // One input shown over the whole frame.
    std::string composition(const std::string& input, const std::string& type,
                            const std::string& value) {
        const std::string path = m_dir.file(input + ".qtz");
        const std::string defaultValue = value.empty() ? "" : ", \"DEFAULT\": \"" + value + "\"";
        test::writeFile(path, "/*{ \"INPUTS\": [ { \"NAME\": \"" + input + "\", \"TYPE\": \"" +
                                  type + "\"" + defaultValue +
                                  " } ] }*/\nvoid main() { gl_FragColor = IMG_NORM_PIXEL(" + input +
                                  ", isf_FragNormCoord); }\n");
        return path;
    }
    test::TempDir m_dir;
};

TEST_P(TerminationRefusal, RefusedAtOnceOrRenderedAtOnce) {
    const RefusalCase& refusal = GetParam();
    std::optional<PrivateRenderer> bare;
    if (refusal.withoutImageModule) bare.emplace(false);
    const std::string movie = m_dir.file("out.mov");
    std::vector<std::string> argv = {
        bare ? bare->cli() : test::cliPath(), "-w", "64", "-h", "48", "-o", movie};
    bool namesComposition = false;
    for (const std::string& argument : refusal.arguments) {
        argv.push_back(resolve(argument));
        namesComposition = namesComposition || argv.back().ends_with(".qtz");
    }
    if (!namesComposition) argv.push_back(demo());
    auto result = runProcess(argv, test::withTimeout(60));
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, refusal.status) << result.err;
    if (refusal.status == 0) {
        EXPECT_EQ(decodedFrames(movie), 30);
        return;
    }
    EXPECT_NE(result.err.find(refusal.message), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(movie));
}

constexpr const char* kTooMany =
    "Too many frames: 1000 fps for 1e+12 s is 1000000000000000 "
    "frames, over the 10000000 a render may have\n";

INSTANTIATE_TEST_SUITE_P(
    Inputs, TerminationRefusal,
    ::testing::Values(
        RefusalCase{"EndlessStart", {"-s", "inf"}, 255, "Start time must be finite\n"},
        RefusalCase{"StartNotANumber", {"-s", "nan"}, 255, "Start time must be finite\n"},
        RefusalCase{"EndlessTimeScale", {"-l", "-inf"}, 255, "Time scale must be finite\n"},
        RefusalCase{"EndlessRecording", {"-e", "RECORDING"}, 255, "Recording time must be finite"},
        RefusalCase{"HugeDuration", {"-d", "1e12", "-f", "1000"}, 255, kTooMany},
        RefusalCase{
            "HugeFrameCount", {"--frames", "count", "-d", "1e12", "-f", "1000"}, 255, kTooMany},
        RefusalCase{"HugeFramerate", {"-f", "1e300"}, 255, "is more than 1e+18 frames"},
        RefusalCase{"HugeRecording",
                    {"-e", "LONGRECORDING"},
                    254,
                    "30 fps for 1e+300 s is more than 1e+18 frames, over the 10000000 a render "
                    "may have (the duration is the recording's)"},
        RefusalCase{"StatefulStartTooLate",
                    {"-s", "1e9", "TRAILS"},
                    255,
                    "Too many pre-roll renders: a start time of 1e+09 s is 30000000000 renders"},
        RefusalCase{"StatelessStartsAtOnce", {"-s", "1e9", "-d", "1"}, 0, ""},
        RefusalCase{"TextWithoutImageModule",
                    {"TEXTINPUT"},
                    254,
                    "text input \"caption\" cannot be drawn: image files cannot be read or written",
                    true},
        RefusalCase{
            "MisspeltCodec", {"-c", "avc", "-s", "1e9"}, 254, "'avc' is not an installed codec"},
        RefusalCase{"NoPlaceForTheMovie",
                    {"-o", "PLAINFILE/out.mov", "-s", "1e9"},
                    254,
                    "plain.txt\" is not a directory"}),
    [](const auto& info) { return std::string(info.param.name); });

// What a kill costs, as the README states it: the fragment under way plus
// what the encoder and the output stage hold back (x264 looks 40 frames ahead,
// and a frame or two more per encoder thread), never a frame of a completed
// fragment. An intra-only codec holds back only the frames in flight.
struct KillCase {
    const char* codec;
    int killAfter;  // frames handed over
    int mostLost;
    bool perThread;  // the encoder holds back up to two frames more per core
};

void PrintTo(const KillCase& kill, std::ostream* out) {
    *out << kill.codec;
}

class TerminationKill : public ::testing::TestWithParam<KillCase> {};

TEST_P(TerminationKill, KilledRenderLeavesEveryCompletedFragment) {
    test::TempDir dir;
    std::string movie = dir.file("killed.mov");
    test::ChildProcess cli({test::cliPath(), "-vv", "-c", GetParam().codec, "-w", "160", "-h",
                            "120", "-d", "60", "-o", movie, demo()});
    ASSERT_TRUE(cli.waitForLine("Frame " + std::to_string(GetParam().killAfter + 1) + " of", 120))
        << cli.out();
    cli.signal(SIGKILL);
    EXPECT_EQ(cli.wait(), 128 + SIGKILL);
    const int frames = decodedFrames(movie);
    const int threads = static_cast<int>(std::thread::hardware_concurrency());
    const int mostLost = GetParam().mostLost + (GetParam().perThread ? 2 * threads : 0);
    EXPECT_GE(frames, GetParam().killAfter - mostLost);
    EXPECT_EQ(frames % 30, 0) << "whole fragments only";
}

INSTANTIATE_TEST_SUITE_P(Codecs, TerminationKill,
                         ::testing::Values(KillCase{"avc1", 134, 76, true},
                                           KillCase{"jpeg", 94, 34, false}),
                         [](const auto& info) { return std::string(info.param.codec); });

TEST(TerminationSequence, SignalDuringAnImageSequenceKeepsWholeFiles) {
    test::TempDir dir;
    test::ChildProcess cli({test::cliPath(), "-vv", "-w", "64", "-h", "48", "-d", "60", "-c",
                            "public.png", "-o", dir.file("frames"), demo()});
    ASSERT_TRUE(cli.waitForLine("Frame 5 of", 60));
    cli.signal(SIGTERM);
    EXPECT_EQ(cli.wait(), 0);
    int written = frameLines(cli.out());
    char last[32];
    snprintf(last, sizeof last, "/frames/Image-%04d.png", written);
    auto probe = runProcess({"/usr/bin/ffprobe", "-v", "error", dir.path() + last});
    EXPECT_EQ(probe.status, 0) << "the last frame file is complete";
}

}  // namespace
}  // namespace lumivane
