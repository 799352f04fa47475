// A render killed with SIGKILL, while rendering or while the movie is being
// rewritten at the end, must leave a movie that plays.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "MediaTestSupport.h"
#include "ProcessRunner.h"
#include "platform/media/MovieRewriter.h"
#include "platform/media/MovieWriter.h"

namespace lumivane {
namespace {

using test::TempDir;

// A child process that reports through a pipe and then waits to be killed.
class Child {
public:
    template <class Body>
    explicit Child(Body body) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            body(fds[1]);
            ::_exit(3);  // the body never ends on its own
        }
        ::close(fds[1]);
        m_report = fds[0];
    }
    ~Child() {
        if (m_report >= 0) ::close(m_report);
        if (m_pid > 0) killAndReap();
    }
    // The number the child sent, or -1 when it died first.
    int report() {
        int value = -1;
        return ::read(m_report, &value, sizeof value) == sizeof value ? value : -1;
    }
    bool waitUntilStopped() {
        int status = 0;
        return ::waitpid(m_pid, &status, WUNTRACED) == m_pid && WIFSTOPPED(status);
    }
    void killAndReap() {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_report = -1;
};

void send(int fd, int value) {
    (void)!::write(fd, &value, sizeof value);
}

// Frames at 10 fps: one-second fragments hold 10 frames each.
void renderFrames(const std::string& path, const std::string& fourcc, int frames, int fd) {
    auto writer = MovieWriter::create(path, fourcc, 2, 10.0, 32, 32);
    if (!writer) ::_exit(4);
    for (int i = 0; i < frames; ++i) {
        if (!(*writer)->addFrame(test::gradientFrame(32, 32, i))) ::_exit(5);
    }
    send(fd, frames);
    ::pause();
}

int decodableFrames(const std::string& path) {
    return int(test::decodeRGBA(path).size() / (32 * 32 * 4));
}

// Frames decoded one per packet: a killed movie may miss frames shown between
// its last ones, which a constant-rate decode would fill with repeats.
int decodedPackets(const std::string& path) {
    const auto probe = test::runShell(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
        "-of csv=p=0 " +
        test::shellQuoted(path));
    return probe.ok() ? std::atoi(probe.output.c_str()) : -1;
}

TEST(MovieCrash, KilledMidRenderLeavesEveryCompletedFragment) {
    TempDir scratch;
    const std::string path = scratch.file("killed.mov");
    {
        Child child([&](int fd) { renderFrames(path, "jpeg", 25, fd); });
        ASSERT_EQ(child.report(), 25);
        child.killAndReap();
    }
    // Fragments [0, 10) and [10, 20) were cut; the last five frames were still buffered.
    const nlohmann::json stream = test::probeStream(path);
    ASSERT_FALSE(stream.is_null()) << "a killed render left an unreadable movie";
    EXPECT_EQ(stream["nb_read_packets"], "20");
    EXPECT_EQ(stream["codec_tag_string"], "jpeg");
    EXPECT_EQ(decodableFrames(path), 20);
}

TEST(MovieCrash, KilledH264RenderKeepsWholeFragments) {
    TempDir scratch;
    const std::string path = scratch.file("killed.mov");
    {
        Child child([&](int fd) { renderFrames(path, "avc1", 60, fd); });
        ASSERT_EQ(child.report(), 60);
        child.killAndReap();
    }
    const nlohmann::json stream = test::probeStream(path);
    ASSERT_FALSE(stream.is_null());
    const int packets = std::stoi(stream["nb_read_packets"].get<std::string>());
    // The encoder holds back its look-ahead (40 frames); what reached the file
    // is whole one-second fragments, every packet of them decodable: a frame
    // only refers to frames before it in the file.
    EXPECT_GE(packets, 10);
    EXPECT_EQ(packets % 10, 0);
    EXPECT_EQ(decodedPackets(path), packets);
}

TEST(MovieCrash, KilledDuringTheRewriteLeavesTheFragmentedMovie) {
    TempDir scratch;
    const std::string path = scratch.file("rewrite.mov");
    {
        Child child([&](int fd) {
            auto writer = MovieWriter::create(path, "jpeg", 2, 10.0, 32, 32);
            if (!writer) ::_exit(4);
            for (int i = 0; i < 25; ++i) (void)(*writer)->addFrame(test::gradientFrame(32, 32, i));
            MovieRewriter::setCopyObserver([fd](int copied) {
                if (copied == 12) {
                    send(fd, copied);
                    ::raise(SIGSTOP);
                }
            });
            (void)(*writer)->updateMovieFile();
            ::_exit(0);
        });
        ASSERT_EQ(child.report(), 12);
        ASSERT_TRUE(child.waitUntilStopped());
        std::string prefix =
            std::filesystem::path(MovieRewriter::temporaryPattern(path)).filename().string();
        prefix.resize(prefix.size() - 6);  // the XXXXXX that mkstemp fills in
        bool temporaryExists = false;
        for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
            if (entry.path().filename().string().rfind(prefix, 0) == 0) temporaryExists = true;
        }
        EXPECT_TRUE(temporaryExists) << "the copy goes to a file of its own";
        child.killAndReap();
    }
    // The fragmented movie was finished (all 25 frames) before the copy began.
    const nlohmann::json stream = test::probeStream(path);
    ASSERT_FALSE(stream.is_null());
    EXPECT_EQ(stream["nb_read_packets"], "25");
    EXPECT_EQ(decodableFrames(path), 25);

    // And it can still be made into an ordinary movie.
    ASSERT_TRUE(MovieRewriter::rewrite(path, 6000, 600));
    EXPECT_EQ(test::probeStream(path)["nb_read_packets"], "25");
    EXPECT_EQ(test::probeStream(path)["time_base"], "1/6000");
}

}  // namespace
}  // namespace lumivane
