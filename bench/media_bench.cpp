// Movie encoding throughput of MovieWriter (AnimationWriter for GIF) beside
// the ffmpeg program encoding the same raw frames with the same codec and
// settings, in the same run; and
// what fragmenting while rendering costs in file size once the movie is final;
// and how long finishing a movie takes against its size.
//
//   media_bench [--frames N] [--repeat R] [--finish-mb M[,M...]]
//
// N frames per case (default 15 at 640x480, a third of that at 1920x1080),
// best of R runs (default 1). Finishing is measured on uncompressed 1920x1080
// movies of about M megabytes each (default 100; 0 skips it).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include "BenchOptions.h"
#include "platform/media/AnimationWriter.h"
#include "platform/media/MovieRewriter.h"
#include "platform/media/MovieWriter.h"

namespace {

using lumivane::ImageRGBA8;
using Clock = std::chrono::steady_clock;

struct Case {
    const char* fourcc;
    int width;
    int height;
    const char* ffmpegCodec;  // the same encoder and options as the quality table's level 2
    const char* extension = ".mov";
};

// The web codecs and GIF take the encoder's own keyframe interval on both
// sides; GIF's filters are those AnimationWriter runs at -q 2, in one pass.
constexpr const char* kGifFilters =
    "-filter_complex "
    "'split[a][b];[a]palettegen=stats_mode=full[p];[b][p]paletteuse=dither=sierra2_4a:"
    "diff_mode=rectangle' -loop 0";

const Case kCases[] = {
    {"avc1", 640, 480, "-c:v libx264 -crf 23 -pix_fmt yuv420p -g 30"},
    {"avc1", 1920, 1080, "-c:v libx264 -crf 23 -pix_fmt yuv420p -g 30"},
    {"png ", 640, 480, "-c:v png -compression_level 6 -pix_fmt rgba -g 30"},
    {"png ", 1920, 1080, "-c:v png -compression_level 6 -pix_fmt rgba -g 30"},
    {"vp09", 640, 480, "-c:v libvpx-vp9 -crf 33 -b:v 0 -row-mt 1 -pix_fmt yuv420p", ".webm"},
    {"av01", 640, 480, "-c:v libsvtav1 -crf 35 -pix_fmt yuv420p", ".webm"},
    {"gif ", 640, 480, kGifFilters, ".gif"},
};

bool isGif(const Case& c) {
    return std::string(c.extension) == ".gif";
}

// A gradient with moving rings and some fine texture: neither trivial for the
// encoders nor noise. Integer arithmetic, so making frames takes little time.
ImageRGBA8 benchFrame(int width, int height, int index) {
    ImageRGBA8 image{width, height, std::vector<uint8_t>(size_t(width) * height * 4)};
    const int cx = width / 2 + index * 4;
    const int cy = height / 2;
    for (int y = 0; y < height; ++y) {
        uint8_t* p = &image.pixels[size_t(y) * width * 4];
        for (int x = 0; x < width; ++x, p += 4) {
            const int dx = x - cx;
            const int dy = y - cy;
            const int ring = int(std::sqrt(float(dx * dx + dy * dy))) & 63;
            const int texture = ((x >> 2) + (y >> 2) + index) & 7;
            p[0] = uint8_t(x * 255 / width / 2 + ring * 2);
            p[1] = uint8_t(y * 255 / height / 2 + texture);
            p[2] = uint8_t(128 + ring - 32);
            p[3] = 255;
        }
    }
    return image;
}

// Processor seconds used by this process (all its threads) or its children.
double cpuSeconds(int who) {
    struct rusage usage {};
    ::getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

struct Run {
    double encodeSeconds = 0;  // until the fragmented movie is complete
    double totalSeconds = 0;   // including the rewrite into the final movie
    double cpuSeconds = 0;     // processor time, all threads, rewrite included
    uintmax_t fragmentedBytes = 0;
    uintmax_t finalBytes = 0;
};

template <class T>
T orExit(lumivane::Result<T> result) {
    if (!result) {
        std::fprintf(stderr, "%s\n", result.error().c_str());
        std::exit(1);
    }
    if constexpr (!std::is_void_v<T>) return std::move(result.value());
}

// Encoding until the frames are kept, then the palette and the picture.
Run runAnimation(const Case& c, const std::vector<ImageRGBA8>& frames, const std::string& path) {
    Run run;
    const double cpuStart = cpuSeconds(RUSAGE_SELF);
    const Clock::time_point start = Clock::now();
    auto writer =
        orExit(lumivane::AnimationWriter::create(path, c.fourcc, 2, 30.0, c.width, c.height));
    for (const ImageRGBA8& frame : frames) orExit(writer->addFrame(frame));
    orExit(writer->finishFrames());
    run.encodeSeconds = seconds(start, Clock::now());
    run.fragmentedBytes =
        std::filesystem::file_size(lumivane::AnimationWriter::keptFramesPath(path));
    orExit(writer->build());
    run.totalSeconds = seconds(start, Clock::now());
    run.cpuSeconds = cpuSeconds(RUSAGE_SELF) - cpuStart;
    run.finalBytes = std::filesystem::file_size(path);
    return run;
}

Run runWriter(const Case& c, const std::vector<ImageRGBA8>& frames, const std::string& path) {
    if (isGif(c)) return runAnimation(c, frames, path);
    Run run;
    const double cpuStart = cpuSeconds(RUSAGE_SELF);
    const Clock::time_point start = Clock::now();
    Clock::time_point fragmentedDone = start;
    lumivane::MovieRewriter::setCopyObserver([&](int copied) {
        if (copied != 1) return;
        fragmentedDone = Clock::now();
        run.fragmentedBytes = std::filesystem::file_size(path);
    });
    auto writer = lumivane::MovieWriter::create(path, c.fourcc, 2, 30.0, c.width, c.height);
    if (!writer) {
        std::fprintf(stderr, "%s\n", writer.error().c_str());
        std::exit(1);
    }
    for (const ImageRGBA8& frame : frames) {
        if (auto added = (*writer)->addFrame(frame); !added) {
            std::fprintf(stderr, "%s\n", added.error().c_str());
            std::exit(1);
        }
    }
    if (auto updated = (*writer)->updateMovieFile(); !updated) {
        std::fprintf(stderr, "%s\n", updated.error().c_str());
        std::exit(1);
    }
    const Clock::time_point end = Clock::now();
    run.cpuSeconds = cpuSeconds(RUSAGE_SELF) - cpuStart;
    lumivane::MovieRewriter::setCopyObserver({});
    run.totalSeconds = seconds(start, end);
    run.finalBytes = std::filesystem::file_size(path);
    // Matroska is no rewrite: its movie is final when complete.
    const bool rewritten = fragmentedDone != start;
    run.encodeSeconds = rewritten ? seconds(start, fragmentedDone) : run.totalSeconds;
    if (!rewritten) run.fragmentedBytes = run.finalBytes;
    return run;
}

Run runFfmpeg(const Case& c, const std::string& raw, const std::string& path) {
    const std::string input = "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt rgba -s " +
                              std::to_string(c.width) + "x" + std::to_string(c.height) +
                              " -r 30 -i '" + raw + "' ";
    const bool quickTime = std::string(c.extension) == ".mov";
    const std::string command =
        isGif(c)
            ? input + c.ffmpegCodec + " '" + path + "'"
            : input + "-vf scale=out_color_matrix=bt709:out_range=tv " + c.ffmpegCodec +
                  " -color_primaries bt709 -color_trc iec61966-2-1 -colorspace bt709" +
                  (quickTime ? " -video_track_timescale 18000 -f mov" : "") + " '" + path + "'";
    const double cpuStart = cpuSeconds(RUSAGE_CHILDREN);
    const Clock::time_point start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", command.c_str());
        std::exit(1);
    }
    Run run;
    run.encodeSeconds = run.totalSeconds = seconds(start, Clock::now());
    run.cpuSeconds = cpuSeconds(RUSAGE_CHILDREN) - cpuStart;
    run.finalBytes = std::filesystem::file_size(path);
    return run;
}

void best(Run& into, const Run& run) {
    if (into.totalSeconds == 0 || run.totalSeconds < into.totalSeconds) into = run;
}

// Finishing a render: the last fragment and trailer (finishFragments), then
// the rewrite into an ordinary movie, for a movie of about `megabytes`.
void measureFinishing(const std::string& dir, int megabytes) {
    constexpr int kWidth = 1920;
    constexpr int kHeight = 1080;
    const std::string path = dir + "/finish.mov";
    // A few distinct frames, reused: uncompressed frames cost the same whatever they show.
    std::vector<ImageRGBA8> frames;
    for (int i = 0; i < 4; ++i) frames.push_back(benchFrame(kWidth, kHeight, i));
    auto writer = orExit(lumivane::MovieWriter::create(path, "raw ", 2, 30.0, kWidth, kHeight));
    const double frameBytes = double(kWidth) * kHeight * 4;
    const int count = std::max(1, int(std::lround(megabytes * 1e6 / frameBytes)));
    for (int i = 0; i < count; ++i) orExit(writer->addFrame(frames[size_t(i) % frames.size()]));
    const Clock::time_point start = Clock::now();
    orExit(writer->finishFragments());
    const Clock::time_point fragmented = Clock::now();
    orExit(writer->updateMovieFile());
    const Clock::time_point end = Clock::now();
    const double gigabytes = double(std::filesystem::file_size(path)) / 1e9;
    std::printf("%8.0f %6d | %10.3f %10.3f %10.3f | %8.2f\n", gigabytes * 1000, count,
                seconds(start, fragmented), seconds(fragmented, end), seconds(start, end),
                seconds(start, end) / gigabytes);
    std::fflush(stdout);
    std::filesystem::remove(path);
}

// FFmpeg 7.1's hybrid_fragmented movflag would finish without the copy.
bool offersHybridFragmented() {
    const AVOutputFormat* mov = av_guess_format("mov", nullptr, nullptr);
    const AVClass* options = mov ? mov->priv_class : nullptr;
    return options &&
           av_opt_find(&options, "hybrid_fragmented", "movflags", 0, AV_OPT_SEARCH_FAKE_OBJ);
}

void measureFinishing(const std::string& dir, const std::vector<int>& sizes) {
    if (sizes.empty() || sizes.front() <= 0) return;
    std::printf("\nfinishing uncompressed 1920x1080 movies (movflags hybrid_fragmented: %s)\n",
                offersHybridFragmented() ? "offered" : "not offered by this FFmpeg");
    std::printf("%8s %6s | %10s %10s %10s | %8s\n", "MB", "frames", "fragments", "rewrite", "total",
                "total");
    std::printf("%8s %6s | %10s %10s %10s | %8s\n", "", "", "s", "s", "s", "s/GB");
    for (int megabytes : sizes) {
        if (megabytes > 0) measureFinishing(dir, megabytes);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const lumivane::bench::BenchOptions given(argc, argv, {"--frames", "--repeat", "--finish-mb"},
                                              "[--frames N] [--repeat R] [--finish-mb M[,M...]]");
    const int frameCount = given.count("--frames", 15);
    const int repeat = given.count("--repeat", 1);
    const std::vector<int> finishSizes = given.integers("--finish-mb", {100});
    const std::string dir = (std::filesystem::temp_directory_path() /
                             ("lumivane-media-bench-" + std::to_string(::getpid())))
                                .string();
    std::filesystem::create_directories(dir);

    std::printf("%-6s %-10s %6s | %8s %8s %8s %6s %6s | %8s %8s %6s | %10s %10s %10s %7s\n",
                "codec", "size", "frames", "ours", "+rewrite", "ffmpeg", "ratio", "+rw", "ours",
                "ffmpeg", "ratio", "fragmented", "final", "ffmpeg", "size");
    std::printf("%-6s %-10s %6s | %8s %8s %8s %6s %6s | %8s %8s %6s | %10s %10s %10s %7s\n", "", "",
                "", "fps", "fps", "fps", "", "", "cpu ms/f", "cpu ms/f", "", "bytes", "bytes",
                "bytes", "");
    for (const Case& c : kCases) {
        const int frames = c.width > 1000 ? std::max(1, frameCount / 3) : frameCount;
        std::vector<ImageRGBA8> images;
        const std::string raw = dir + "/frames.rgba";
        {
            std::ofstream out(raw, std::ios::binary);
            for (int i = 0; i < frames; ++i) {
                images.push_back(benchFrame(c.width, c.height, i));
                out.write(reinterpret_cast<const char*>(images.back().pixels.data()),
                          std::streamsize(images.back().pixels.size()));
            }
        }
        Run ours;
        Run theirs;
        for (int r = 0; r < repeat; ++r) {
            best(ours, runWriter(c, images, dir + "/ours" + c.extension));
            best(theirs, runFfmpeg(c, raw, dir + "/ffmpeg" + c.extension));
        }
        const double oursFps = frames / ours.encodeSeconds;
        const double oursTotalFps = frames / ours.totalSeconds;
        const double ffmpegFps = frames / theirs.totalSeconds;
        const double oursCpu = 1000.0 * ours.cpuSeconds / frames;
        const double ffmpegCpu = 1000.0 * theirs.cpuSeconds / frames;
        std::printf(
            "%-6s %4dx%-5d %6d | %8.1f %8.1f %8.1f %5.0f%% %5.0f%% | %8.1f %8.1f %5.0f%% | %10ju "
            "%10ju %10ju %+6.2f%%\n",
            c.fourcc, c.width, c.height, frames, oursFps, oursTotalFps, ffmpegFps,
            100.0 * oursFps / ffmpegFps, 100.0 * oursTotalFps / ffmpegFps, oursCpu, ffmpegCpu,
            100.0 * ffmpegCpu / oursCpu, ours.fragmentedBytes, ours.finalBytes, theirs.finalBytes,
            100.0 * (double(ours.finalBytes) / double(theirs.finalBytes) - 1.0));
        std::fflush(stdout);
    }
    measureFinishing(dir, finishSizes);
    std::filesystem::remove_all(dir);
    std::printf(
        "fps ours: until the fragmented movie is complete; +rewrite: until the final movie is in\n"
        "place; ratio, +rw: those over ffmpeg's (wall clock, higher is better). cpu ms/f: "
        "processor\n"
        "time per frame, all threads; its ratio is ffmpeg's over ours (higher is better), which\n"
        "other load on the machine disturbs less. size: our final movie against ffmpeg's.\n"
        "finishing: fragments = finishFragments(), rewrite = updateMovieFile() after it.\n"
        "gif: ours = until the frames are kept (fragmented bytes: the kept FFV1 frames),\n"
        "+rewrite = with the palette and the picture built from them.\n");
    return 0;
}
