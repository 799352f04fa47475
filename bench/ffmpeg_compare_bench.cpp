// Our movies and memory next to FFmpeg's own program on the same frames: the
// renderer writes the frames once as a PNG sequence, then encodes them itself
// (avc1) while `ffmpeg` encodes the PNGs with the same encoder and CRF. Peak
// memory is each process's maximum resident set; the programs' start-up alone
// (--help, -version) shows what linking costs before any work.
//
//   ffmpeg_compare_bench [--cli PATH] [--ffmpeg PATH] [--composition PATH]
//                        [--width W] [--height H] [--seconds S] [--quality Q]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchOptions.h"

namespace fs = std::filesystem;

namespace {

struct Run {
    int status = -1;
    long peakKiB = 0;
};

// Runs a program quietly and reports its exit status and peak memory.
Run run(const std::vector<std::string>& argv) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    Run result;
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.peakKiB = usage.ru_maxrss;
    }
    return result;
}

// The x264 CRF the renderer uses at each quality level.
int crfFor(int quality) {
    static const int kCrf[] = {34, 28, 23, 18, 14};
    return quality >= 0 && quality <= 4 ? kCrf[quality] : 23;
}

std::string siblingProgram(const char* self, const std::string& name) {
    return (fs::absolute(self).parent_path() / name).string();
}

}  // namespace

int main(int argc, char** argv) {
    using lumivane::bench::BenchOptions;
    BenchOptions options(
        argc, argv,
        {"--cli", "--ffmpeg", "--composition", "--width", "--height", "--seconds", "--quality"},
        "[--cli PATH] [--ffmpeg PATH] [--composition PATH] [--width W] [--height H] "
        "[--seconds S] [--quality 0-4]");
    const std::string cli = options.text("--cli", siblingProgram(argv[0], "LumivaneCLI"));
    const std::string ffmpeg = options.text("--ffmpeg", "ffmpeg");
    const std::string composition = options.text(
        "--composition",
        (fs::absolute(argv[0]).parent_path() / "../../resources/compositions/demo.qtz").string());
    const std::string width = std::to_string(options.count("--width", 640));
    const std::string height = std::to_string(options.count("--height", 480));
    const double seconds = options.number("--seconds", 4);
    const int quality = options.integer("--quality", 3);
    const int frames = static_cast<int>(std::trunc(30 * seconds));
    const int digits = static_cast<int>(std::to_string(frames).size());

    const fs::path dir =
        fs::temp_directory_path() / ("lumivane-compare-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::vector<std::string> render = {cli,
                                       "-w",
                                       width,
                                       "-h",
                                       height,
                                       "-d",
                                       std::to_string(seconds),
                                       "-q",
                                       std::to_string(quality)};

    auto sequence = render;
    sequence.insert(sequence.end(),
                    {"-c", "public.png", "-o", (dir / "frames").string(), composition});
    if (run(sequence).status != 0) {
        std::fprintf(stderr, "%s could not render %s\n", cli.c_str(), composition.c_str());
        return 1;
    }
    auto movie = render;
    movie.insert(movie.end(), {"-c", "avc1", "-o", (dir / "ours.mov").string(), composition});
    const Run ours = run(movie);
    const Run theirs =
        run({ffmpeg, "-y", "-framerate", "30", "-i",
             (dir / "frames" / ("Image-%0" + std::to_string(digits) + "d.png")).string(), "-c:v",
             "libx264", "-crf", std::to_string(crfFor(quality)), "-pix_fmt", "yuv420p",
             (dir / "ffmpeg.mov").string()});
    const Run oursIdle = run({cli, "--help"});
    const Run theirsIdle = run({ffmpeg, "-version"});
    if (ours.status != 0 || theirs.status != 0) {
        std::fprintf(stderr, "encoding failed (renderer %d, ffmpeg %d)\n", ours.status,
                     theirs.status);
        return 1;
    }
    const double oursBytes = static_cast<double>(fs::file_size(dir / "ours.mov"));
    const double theirsBytes = static_cast<double>(fs::file_size(dir / "ffmpeg.mov"));
    std::printf("%d frames %sx%s avc1, CRF %d\n", frames, width.c_str(), height.c_str(),
                crfFor(quality));
    std::printf("size:   LumivaneCLI %.1f KB, ffmpeg %.1f KB (%+.1f %%)\n", oursBytes / 1000,
                theirsBytes / 1000, 100 * (oursBytes / theirsBytes - 1));
    std::printf(
        "memory: LumivaneCLI %.1f MiB peak (%.1f MiB at start-up), ffmpeg %.1f MiB peak "
        "(%.1f MiB at start-up)\n",
        ours.peakKiB / 1024.0, oursIdle.peakKiB / 1024.0, theirs.peakKiB / 1024.0,
        theirsIdle.peakKiB / 1024.0);
    std::printf("        difference %.1f MiB, of which start-up %.1f MiB\n",
                (ours.peakKiB - theirs.peakKiB) / 1024.0,
                (oursIdle.peakKiB - theirsIdle.peakKiB) / 1024.0);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return 0;
}
