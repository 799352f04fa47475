// A pass-through filter over footage against the same filter over a still:
// the decoder thread should hide the source's decoding behind the render, so
// the movie's render costs little more than the still's. Both renders write
// the same cheap output (Huffyuv by default) with LP_NUM_THREADS=1, and are
// run alternately, the median of each reported; `ffmpeg -f null` decoding
// the source alone shows what was hidden.
//
//   footage_bench [--cli PATH] [--ffmpeg PATH] [--width W] [--height H]
//                 [--seconds S] [--rounds N] [--codec FOURCC]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchOptions.h"

namespace fs = std::filesystem;

namespace {

// Runs a program quietly; its exit status, 127 when it cannot start, and
// the processor seconds it used in `cpu`.
int run(const std::vector<std::string>& argv, double* cpu = nullptr) {
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
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return -1;
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    if (cpu) *cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Seconds the program took; negative when it failed.
double timed(const std::vector<std::string>& argv, std::vector<double>& cpu) {
    const auto start = std::chrono::steady_clock::now();
    cpu.push_back(0);
    const int status = run(argv, &cpu.back());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return status == 0 ? seconds : -1;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string siblingProgram(const char* self, const std::string& name) {
    return (fs::absolute(self).parent_path() / name).string();
}

constexpr const char* kPassThrough = R"(/*{
    "DESCRIPTION": "Shows its image as it is.",
    "INPUTS": [ { "NAME": "inputImage", "TYPE": "image" } ]
}*/
void main() { gl_FragColor = IMG_THIS_NORM_PIXEL(inputImage); }
)";

}  // namespace

int main(int argc, char** argv) {
    using lumivane::bench::BenchOptions;
    BenchOptions options(
        argc, argv,
        {"--cli", "--ffmpeg", "--width", "--height", "--seconds", "--rounds", "--codec"},
        "[--cli PATH] [--ffmpeg PATH] [--width W] [--height H] [--seconds S] "
        "[--rounds N] [--codec FOURCC]");
    const std::string cli = options.text("--cli", siblingProgram(argv[0], "LumivaneCLI"));
    const std::string ffmpeg = options.text("--ffmpeg", "ffmpeg");
    const std::string width = std::to_string(options.count("--width", 1920));
    const std::string height = std::to_string(options.count("--height", 1080));
    const std::string seconds = std::to_string(options.number("--seconds", 3));
    const int rounds = std::max(1, options.integer("--rounds", 3));
    const std::string codec = options.text("--codec", "FFVH");
    // What the renderer's GPU stand-in would take of two cores otherwise.
    setenv("LP_NUM_THREADS", "1", 1);

    const fs::path dir =
        fs::temp_directory_path() / ("lumivane-footage-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string source = (dir / "source.mp4").string();
    const std::string still = (dir / "still.png").string();
    const std::string filter = (dir / "pass.fs").string();
    std::ofstream(filter) << kPassThrough;
    const std::string size = width + "x" + height;
    if (run({ffmpeg, "-y", "-f", "lavfi", "-i",
             "testsrc2=size=" + size + ":rate=30:duration=" + seconds, "-c:v", "libx264", "-crf",
             "18", "-pix_fmt", "yuv420p", source}) != 0 ||
        run({ffmpeg, "-y", "-i", source, "-frames:v", "1", still}) != 0) {
        std::fprintf(stderr, "%s could not make the source\n", ffmpeg.c_str());
        return 1;
    }
    const auto render = [&](const std::string& image) {
        return std::vector<std::string>{cli,
                                        "-w",
                                        width,
                                        "-h",
                                        height,
                                        "-f",
                                        "30",
                                        "-d",
                                        seconds,
                                        "-c",
                                        codec,
                                        "-o",
                                        (dir / "out.mov").string(),
                                        "-p",
                                        "inputImage=" + image,
                                        filter};
    };
    std::vector<double> overStill, overMovie, decodeAlone, stillCpu, movieCpu, decodeCpu;
    for (int round = 0; round < rounds; ++round) {
        overStill.push_back(timed(render(still), stillCpu));
        overMovie.push_back(timed(render(source), movieCpu));
        decodeAlone.push_back(timed({ffmpeg, "-i", source, "-f", "null", "-"}, decodeCpu));
    }
    fs::remove_all(dir);
    for (const auto* times : {&overStill, &overMovie, &decodeAlone}) {
        if (std::any_of(times->begin(), times->end(), [](double t) { return t < 0; })) {
            std::fprintf(stderr, "a run failed\n");
            return 1;
        }
    }
    const double overStillMedian = median(overStill), movie = median(overMovie);
    std::printf("%g s of %s at 30 frames/s, %s output, LP_NUM_THREADS=1, median of %d\n",
                std::stod(seconds), size.c_str(), codec.c_str(), rounds);
    // Processor time shows the work the source adds even where a busy
    // machine leaves no core free to overlap it.
    std::printf("over a still:        %.2f s, processor %.2f s\n", overStillMedian,
                median(stillCpu));
    std::printf("over H.264 footage:  %.2f s (%.2fx the still's), processor %.2f s\n", movie,
                movie / overStillMedian, median(movieCpu));
    std::printf("decoding alone:      %.2f s (ffmpeg -f null), processor %.2f s\n",
                median(decodeAlone), median(decodeCpu));
    return 0;
}
