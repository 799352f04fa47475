// Where LumivaneCLI's output lands: through symbolic links to their final
// target, and over what earlier killed renders left, which it clears.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "MovieProbe.h"
#include "ProcessRunner.h"

namespace lumivane {
namespace {

namespace fs = std::filesystem;

constexpr int kFrames = 30;  // one second at the default 30 fps

std::string demo() {
    return std::string(LUMIVANE_SOURCE_DIR) + "/resources/compositions/demo.qtz";
}

test::ProcessResult render(const std::vector<std::string>& output) {
    std::vector<std::string> argv = {test::cliPath(), "-w", "64", "-h", "48", "-d", "1"};
    argv.insert(argv.end(), output.begin(), output.end());
    argv.push_back(demo());
    return test::runProcess(argv, test::withTimeout(120));
}

struct LinkCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links;  // link, what it holds
    bool targetExists;
};

TEST(OutputPlacement, MovieGoesThroughSymbolicLinksToTheirTarget) {
    const std::vector<LinkCase> cases = {
        {"chain to an existing movie",
         {{"out.mov", "hop.mov"}, {"hop.mov", "real/movie.mov"}},
         true},
        {"absolute link to a movie not yet made", {{"out.mov", "@/real/movie.mov"}}, false},
    };
    for (const LinkCase& c : cases) {
        test::TempDir dir;
        fs::create_directory(dir.file("real"));
        if (c.targetExists) test::writeFile(dir.file("real/movie.mov"), "an older movie");
        for (const auto& [link, to] : c.links) {
            fs::create_symlink(to[0] == '@' ? dir.path() + to.substr(1) : to, dir.file(link));
        }
        auto result = render({"-o", dir.file("out.mov")});
        ASSERT_EQ(result.status, 0) << c.name << "\n" << result.out << result.err;
        for (const auto& [link, to] : c.links) {
            EXPECT_TRUE(fs::is_symlink(dir.file(link))) << c.name << ": " << link;
        }
        const std::string target = dir.file("real/movie.mov");
        EXPECT_TRUE(test::isFinishedMovie(target)) << c.name;
        EXPECT_EQ(test::decodedFrames(target), kFrames) << c.name;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("real")), {}), 1)
            << c.name << ": nothing but the movie beside it";
    }
}

pid_t deadPid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

struct LeftoverCase {
    const char* name;
    std::vector<std::string> output;  // -c and -o arguments, relative to the directory
    std::string stale;
    std::string unrelated;
};

TEST(OutputPlacement, RenderClearsWhatKilledRendersLeftAndNothingElse) {
    const std::string dead = std::to_string(deadPid());
    const std::vector<LeftoverCase> cases = {
        {"movie", {"-o", "out.mov"}, ".out.mov.rewrite-abc123", ".out.mov.notes"},
        {"image sequence",
         {"-c", "public.png", "-o", "frames"},
         "frames/.Image-07.partial-" + dead + ".png",
         "frames/.Image-07.notes"},
    };
    for (const LeftoverCase& c : cases) {
        test::TempDir dir;
        fs::create_directory(dir.file("frames"));
        test::writeFile(dir.file(c.stale), "a killed render's half");
        test::writeFile(dir.file(c.unrelated), "someone's notes");
        std::vector<std::string> output = c.output;
        output.back() = dir.file(output.back());
        auto result = render(output);
        ASSERT_EQ(result.status, 0) << c.name << "\n" << result.out << result.err;
        EXPECT_FALSE(fs::exists(dir.file(c.stale))) << c.name;
        EXPECT_EQ(test::readFile(dir.file(c.unrelated)), "someone's notes") << c.name;
    }
}

}  // namespace
}  // namespace lumivane
