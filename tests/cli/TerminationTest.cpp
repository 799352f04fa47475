// A render stopped from outside never leaves an unplayable movie.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
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

std::string demo() {
    return std::string(LUMIVANE_SOURCE_DIR) + "/resources/compositions/demo.qtz";
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
    EXPECT_EQ(cli.wait(), 0);
    int written = frameLines(cli.out());
    EXPECT_GE(written, stop.atFrame);
    EXPECT_EQ(decodedFrames(movie), written);
    EXPECT_TRUE(test::isFinishedMovie(movie));
    EXPECT_NE(test::readFile(errors).find(heldLine(written, 1800)), std::string::npos)
        << test::readFile(errors);
    EXPECT_TRUE(hiddenFiles(m_dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Stops, Termination,
    ::testing::Values(StopCase{"Terminate", {SIGTERM}, 12}, StopCase{"Interrupt", {SIGINT}, 12},
                      StopCase{"Hangup", {SIGHUP}, 12},
                      StopCase{"QuitBeforeTheFirstFragment", {SIGINT, SIGTERM}, 3},
                      StopCase{"TwoInterrupts", {SIGINT, SIGINT}, 40}),
    [](const auto& info) { return std::string(info.param.name); });

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
    EXPECT_TRUE(hiddenFiles(dir.path()).empty());
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
    test::ChildProcess cli({test::cliPath(), "-vv", "-w", "64", "-h", "48", "-d", "2", "-s", "1e9",
                            "-o", movie, demo()},
                           errors);
    ASSERT_TRUE(cli.waitForLine("Pre-roll 0.000 of 1000000000.000 s", 60)) << cli.out();
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

// What would make a render endless or fail only after a long pre-roll is
// refused before any of it.
struct RefusalCase {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    const char* message;
};

void PrintTo(const RefusalCase& refusal, std::ostream* out) {
    *out << refusal.name;
}

class TerminationRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(TerminationRefusal, RefusedBeforeThePreRoll) {
    test::TempDir dir;
    test::writeFile(dir.file("endless.QCRecording"),
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                    "<key>takes</key><dict><key>default</key><dict/></dict>"
                    "<key>totalSec</key><real>inf</real></dict></plist>\n");
    std::vector<std::string> argv = {test::cliPath(),    "-w", "64", "-h", "48", "-o",
                                     dir.file("out.mov")};
    test::writeFile(dir.file("plain.txt"), "not a directory");
    for (std::string argument : GetParam().arguments) {
        if (argument == "RECORDING") argument = dir.file("endless.QCRecording");
        if (argument.rfind("PLAINFILE", 0) == 0) argument.replace(0, 9, dir.file("plain.txt"));
        argv.push_back(argument);
    }
    argv.push_back(demo());
    auto result = runProcess(argv, test::withTimeout(30));
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, GetParam().status);
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.mov")));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, TerminationRefusal,
    ::testing::Values(
        RefusalCase{"EndlessStart", {"-s", "inf"}, 255, "Start time must be finite\n"},
        RefusalCase{"EndlessRecording", {"-e", "RECORDING"}, 255, "Recording time must be finite"},
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
