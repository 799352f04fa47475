// What the writers leave on disk besides the output: nothing from a process
// that died, nothing from earlier killed renders, and the output's own file
// (its links) kept.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "MediaTestSupport.h"
#include "MovieProbe.h"
#include "ProcessRunner.h"
#include "base/FileHandles.h"
#include "platform/media/ImageSequenceWriter.h"
#include "platform/media/MovieWriter.h"

namespace lumivane {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

void removeAndExit(int) {
    removePendingFiles();
    ::_exit(0);
}

// A process id that no process has: a child that already exited and was reaped.
pid_t deadPid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

TEST(PendingFiles, SignalHandlerRemovesPendingFilesOnly) {
    TempDir scratch;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGUSR1, removeAndExit);
        TemporaryFile placed(scratch.file("placed.tmp"));
        test::writeFile(placed.path(), "whole");
        if (!placed.renameTo(scratch.file("placed"))) ::_exit(2);
        // More than there are slots: the last ones are not registered.
        std::vector<std::unique_ptr<TemporaryFile>> pending;
        for (int i = 0; i < 10; ++i) {
            pending.push_back(std::make_unique<TemporaryFile>(scratch.file(std::to_string(i))));
            test::writeFile(pending.back()->path(), "partial");
        }
        ::raise(SIGUSR1);
        ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(test::readFile(scratch.file("placed")), "whole");
    for (int i = 0; i < 8; ++i) EXPECT_FALSE(fs::exists(scratch.file(std::to_string(i)))) << i;
    EXPECT_TRUE(fs::exists(scratch.file("8")));
    EXPECT_TRUE(fs::exists(scratch.file("9")));
}

std::vector<std::string> namesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FilePlacement, MovieRemovesOnlyItsOwnStaleRewrites) {
    TempDir scratch;
    fs::create_directory(scratch.file("real"));
    fs::create_symlink("real/target.mov", scratch.file("link.mov"));
    const std::vector<std::string> stale = {".link.mov.rewrite-abc123",
                                            "real/.target.mov.rewrite-Zz9Zz9"};
    const std::vector<std::string> unrelated = {
        ".link.mov.rewrite-abc12",       ".link.mov.rewrite-abc1234", ".other.mov.rewrite-abc123",
        "link.mov.rewrite-abc123",       ".link.mov.rewrite-abc.23",  ".link.mov.partial-abc123",
        "real/.link.mov.rewrite-abc123x"};
    for (const auto& name : stale) test::writeFile(scratch.file(name), "old copy");
    for (const auto& name : unrelated) test::writeFile(scratch.file(name), "keep");
    auto writer = MovieWriter::create(scratch.file("link.mov"), "jpeg", 2, 10.0, 16, 16);
    ASSERT_TRUE(writer) << writer.error();
    for (const auto& name : stale) EXPECT_FALSE(fs::exists(scratch.file(name))) << name;
    for (const auto& name : unrelated) EXPECT_TRUE(fs::exists(scratch.file(name))) << name;
}

TEST(FilePlacement, SequenceRemovesPartialsOfGoneWritersOnly) {
    TempDir scratch;
    const std::string dead = std::to_string(deadPid());
    const std::string own = std::to_string(::getpid());
    const std::string live = std::to_string(::getppid());
    const std::vector<std::string> stale = {".Image-1.partial-" + dead + ".png",
                                            ".Image-0042.partial-" + dead + ".exr",
                                            ".Image-7.partial-" + own + ".jpg"};
    const std::vector<std::string> kept = {
        ".Image-1.partial-" + live + ".png",     ".Image-1.partial-" + dead + ".txt",
        ".Image-1.partial-" + dead + ".png.bak", "Image-1.partial-" + dead + ".png",
        ".Image-.partial-" + dead + ".png",      ".Image-1.partial-0" + dead + ".png",
        ".Frame-1.partial-" + dead + ".png",     ".notes"};
    for (const auto& name : stale) test::writeFile(scratch.file(name), "half");
    for (const auto& name : kept) test::writeFile(scratch.file(name), "keep");
    ASSERT_TRUE(ImageSequenceWriter::open(scratch.path(), "public.png", 10, 3));
    std::vector<std::string> expected = kept;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(namesIn(scratch.path()), expected);
}

TEST(FilePlacement, HardLinkedMovieKeepsItsFile) {
    TempDir scratch;
    const std::string path = scratch.file("movie.mov");
    auto writer = MovieWriter::create(path, "jpeg", 2, 10.0, 32, 32);
    ASSERT_TRUE(writer) << writer.error();
    fs::create_hard_link(path, scratch.file("other-name.mov"));
    for (int i = 0; i < 15; ++i) ASSERT_TRUE((*writer)->addFrame(test::gradientFrame(32, 32, i)));
    auto updated = (*writer)->updateMovieFile();
    ASSERT_TRUE(updated) << updated.error();
    struct stat movie {};
    struct stat other {};
    ASSERT_EQ(::stat(path.c_str(), &movie), 0);
    ASSERT_EQ(::stat(scratch.file("other-name.mov").c_str(), &other), 0);
    EXPECT_EQ(movie.st_ino, other.st_ino);
    EXPECT_EQ(movie.st_nlink, 2u);
    EXPECT_EQ(test::probeStream(scratch.file("other-name.mov"))["nb_read_packets"], "15");
    const auto boxes = test::topLevelBoxes(path);
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "moof"), 0) << "the rewritten movie";
    EXPECT_EQ(namesIn(scratch.path()), (std::vector<std::string>{"movie.mov", "other-name.mov"}))
        << "the rewrite's temporary file is gone";
}

}  // namespace
}  // namespace lumivane
