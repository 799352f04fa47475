// Our movies and memory next to FFmpeg's own program on the same frames: the
// renderer writes the frames once as a PNG sequence, then encodes them itself
// (avc1, or vp09 / av01 in WebM) while `ffmpeg` encodes the PNGs with the same
// encoder and CRF; both are timed. Peak
// memory is each process's maximum resident set; the programs' start-up alone
// (--help, -version) shows what linking costs before any work.
//
//   ffmpeg_compare_bench [--cli PATH] [--ffmpeg PATH] [--composition PATH]
//                        [--width W] [--height H] [--seconds S] [--quality Q]
//                        [--codec avc1|vp09|av01]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

// What the renderer's code means to `ffmpeg`, and the CRF it uses per quality level.
struct Codec {
    const char* code;
    const char* extension;
    std::vector<std::string> encoder;  // ffmpeg's arguments, less the CRF
    int crf[5];
};

const Codec kCodecs[] = {
    {"avc1", ".mov", {"-c:v", "libx264"}, {34, 28, 23, 18, 14}},
    {"vp09", ".webm", {"-c:v", "libvpx-vp9", "-b:v", "0", "-row-mt", "1"}, {48, 40, 33, 27, 20}},
    {"av01", ".webm", {"-c:v", "libsvtav1"}, {50, 42, 35, 29, 22}},
};

const Codec* codecFor(const std::string& code) {
    for (const Codec& codec : kCodecs)
        if (code == codec.code) return &codec;
    return nullptr;
}

double secondsOf(const std::vector<std::string>& argv, Run& result) {
    const auto start = std::chrono::steady_clock::now();
    result = run(argv);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string siblingProgram(const char* self, const std::string& name) {
    return (fs::absolute(self).parent_path() / name).string();
}

}  // namespace

int main(int argc, char** argv) {
    using lumivane::bench::BenchOptions;
    BenchOptions options(
        argc, argv,
        {"--cli", "--ffmpeg", "--composition", "--width", "--height", "--seconds", "--quality",
         "--codec"},
        "[--cli PATH] [--ffmpeg PATH] [--composition PATH] [--width W] [--height H] "
        "[--seconds S] [--quality 0-4] [--codec avc1|vp09|av01]");
    const std::string cli = options.text("--cli", siblingProgram(argv[0], "LumivaneCLI"));
    const std::string ffmpeg = options.text("--ffmpeg", "ffmpeg");
    const std::string composition = options.text(
        "--composition",
        (fs::absolute(argv[0]).parent_path() / "../../resources/compositions/demo.qtz").string());
    const std::string width = std::to_string(options.count("--width", 640));
    const std::string height = std::to_string(options.count("--height", 480));
    const double seconds = options.number("--seconds", 4);
    const int quality = options.integer("--quality", 3);
    const Codec* codec = codecFor(options.text("--codec", "avc1"));
    if (!codec || quality < 0 || quality > 4) {
        std::fprintf(stderr, "--codec takes avc1, vp09 or av01; --quality 0-4\n");
        return 1;
    }
    const int crf = codec->crf[quality];
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
    const fs::path oursPath = dir / (std::string("ours") + codec->extension);
    const fs::path theirsPath = dir / (std::string("ffmpeg") + codec->extension);
    auto movie = render;
    movie.insert(movie.end(), {"-c", codec->code, "-o", oursPath.string(), composition});
    std::vector<std::string> encode = {
        ffmpeg, "-y", "-framerate",
        "30",   "-i", (dir / "frames" / ("Image-%0" + std::to_string(digits) + "d.png")).string()};
    encode.insert(encode.end(), codec->encoder.begin(), codec->encoder.end());
    encode.insert(encode.end(),
                  {"-crf", std::to_string(crf), "-pix_fmt", "yuv420p", theirsPath.string()});
    Run ours, theirs;
    const double oursSeconds = secondsOf(movie, ours);
    const double theirsSeconds = secondsOf(encode, theirs);
    const Run oursIdle = run({cli, "--help"});
    const Run theirsIdle = run({ffmpeg, "-version"});
    if (ours.status != 0 || theirs.status != 0) {
        std::fprintf(stderr, "encoding failed (renderer %d, ffmpeg %d)\n", ours.status,
                     theirs.status);
        return 1;
    }
    const double oursBytes = static_cast<double>(fs::file_size(oursPath));
    const double theirsBytes = static_cast<double>(fs::file_size(theirsPath));
    std::printf("%d frames %sx%s %s, CRF %d\n", frames, width.c_str(), height.c_str(), codec->code,
                crf);
    std::printf("time:   LumivaneCLI %.2f s (rendering included), ffmpeg %.2f s (from PNGs)\n",
                oursSeconds, theirsSeconds);
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
