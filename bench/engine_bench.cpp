// Frames per second of the render pipeline's use of the engine (clear, render
// the samples, downscale and accumulate, one readback per frame) beside the
// bare limit measured in the same run: the same shader drawn the same number
// of times and an output-sized readback, nothing else.
//
//   engine_bench [--frames N] [--sizes 640x480,1920x1080] [--aa 1,2,4]
//                [--mb 1,4,16] [--composition PATH] [--budget MPIXELS] [--all 1]
//                [--rounds R] [--readback 1|0|only] [--convert 1|0|only]
//
// Each line takes the best of R rounds (3 by default), the bare limit and the
// pipeline measured alternately, so that a busy neighbour on a shared machine
// slows one round rather than one side of the comparison.
// On a software rasterizer the default run skips the lines that would draw
// more than --budget megapixels per frame (5), so that it stays short.
//
// Three readback lines at 1080p follow (--readback 0 leaves them out, --readback
// only runs nothing else): rendering alone, rendering with a synchronous read
// of each frame, and with the asynchronous read that takes frame N while
// frame N+1 renders. On a GPU the last comes close to the first.
//
// Then (--convert 0 leaves them out, --convert only runs nothing else) frames
// for a yuv420p encoder at 640x480 and 1080p, converted on the GPU or by
// swscale: bytes read back, CPU time and wall time per frame.
#include <epoxy/gl.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "BenchOptions.h"
#include "BenchRender.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/HeadlessGLContext.h"
#include "platform/engine/OffscreenRenderer.h"
#include "platform/engine/YuvConversion.h"
#include "platform/media/FrameConverter.h"

namespace {

using namespace lumivane;
using Clock = std::chrono::steady_clock;

struct Options {
    int frames = 0;  // 0: 3 on a GPU, 1 on a software rasterizer
    int rounds = 3;
    double budget = 5;
    bool all = false;
    std::vector<std::pair<int, int>> sizes = {{640, 480}, {1920, 1080}};
    std::vector<int> aa = {1, 2, 4};
    std::vector<int> mb = {1, 4, 16};
    std::string composition;
    std::string readback = "1";
    std::string convert = "1";
    std::vector<std::pair<int, int>> convertSizes = {{640, 480}, {1920, 1080}};
};

Options parse(int argc, char** argv) {
    const bench::BenchOptions given(
        argc, argv,
        {"--frames", "--sizes", "--aa", "--mb", "--composition", "--budget", "--all", "--rounds",
         "--readback", "--convert"},
        "[--frames N] [--sizes WxH,...] [--aa 1,2,4] [--mb 1,4,16] [--composition PATH] "
        "[--budget MPIXELS] [--all 1] [--rounds R] [--readback 1|0|only] [--convert 1|0|only]");
    Options options;
    options.frames = given.count("--frames", options.frames);
    options.aa = given.integers("--aa", options.aa);
    options.mb = given.integers("--mb", options.mb);
    options.composition = given.composition();
    options.rounds = given.count("--rounds", options.rounds);
    options.budget = given.number("--budget", options.budget);
    options.all = given.text("--all", "0") != "0";
    options.sizes = given.sizes("--sizes", options.sizes);
    options.readback = given.text("--readback", options.readback);
    options.convert = given.text("--convert", options.convert);
    if (options.convert == "only") {
        options.readback = "0";
        options.sizes.clear();
    }
    if (options.readback != "0" && options.readback != "1" && options.readback != "only") {
        std::fprintf(stderr, "%s: --readback takes 1, 0 or only\n", argv[0]);
        std::exit(2);
    }
    return options;
}

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// The loop of the render pipeline: one readback per output frame, taken
// while the next frame renders, as LumivaneCLI takes it.
double pipelineFps(OffscreenRenderer& renderer, int width, int height, int aa, int mb, int frames) {
    const int extra = mb - 1;
    const bool direct = aa == 1 && extra == 0;
    if (!direct) {
        if (auto made = renderer.createAccumulator(width, height); !made)
            throw EngineError(made.error());
    }
    const double frameDuration = 1.0 / 30, subframe = frameDuration / mb;
    const float weight = 1.0f / float(extra + 1);
    size_t checksum = 0;
    std::optional<ReadbackTicket> pending;
    const auto takePending = [&] {
        auto image = renderer.takeReadback(*pending);
        if (!image) throw EngineError(image.error());
        checksum += std::get<ImageRGBA8>(*image).pixels[0];
    };
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        const double t = i * frameDuration;
        renderer.clear();
        if (!direct) renderer.clearAccumulator();
        bench::render(renderer, t);
        for (int j = 0; !direct && j <= extra; ++j) {
            renderer.accumulate(weight);
            if (j < extra) bench::render(renderer, t + (j + 1) * subframe);
        }
        auto ticket = renderer.beginReadback(
            direct ? ReadbackSource::Render : ReadbackSource::Accumulator, TargetFormat::RGBA8);
        if (!ticket) throw EngineError(ticket.error());
        if (pending) takePending();
        pending = *ticket;
    }
    if (pending) takePending();
    const double elapsed = seconds(start);
    if (checksum == size_t(-1)) std::puts("");
    return frames / elapsed;
}

// The same number of draws and an output-sized readback, nothing else. The
// render leaves the renderer's framebuffer bound, so the readback reads it.
double bareFps(OffscreenRenderer& renderer, int width, int height, int mb, int frames) {
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    const double frameDuration = 1.0 / 30, subframe = frameDuration / mb;
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        for (int j = 0; j < mb; ++j) bench::render(renderer, i * frameDuration + j * subframe);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    }
    return frames / seconds(start);
}

enum class Readback { None, Synchronous, Asynchronous };

// Renders `frames` frames and reads each back as the mode says; the frames'
// first bytes go into a sum so that no read can be left out.
double readbackFps(OffscreenRenderer& renderer, Readback mode, int frames) {
    size_t checksum = 0;
    std::optional<ReadbackTicket> pending;
    const auto takePending = [&] {
        auto image = renderer.takeReadback(*pending);
        if (!image) throw EngineError(image.error());
        checksum += std::get<ImageRGBA8>(*image).pixels[0];
    };
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        bench::render(renderer, i / 30.0);
        if (mode == Readback::Synchronous) checksum += renderer.createSnapshotImage().pixels[0];
        if (mode != Readback::Asynchronous) continue;
        auto ticket = renderer.beginReadback(ReadbackSource::Render, TargetFormat::RGBA8);
        if (!ticket) throw EngineError(ticket.error());
        if (pending) takePending();
        pending = *ticket;
    }
    if (pending) takePending();
    renderer.finish();
    const double elapsed = seconds(start);
    if (checksum == size_t(-1)) std::puts("");
    return frames / elapsed;
}

void readbackLines(const std::shared_ptr<Composition>& composition, bool software, int rounds) {
    const int width = 1920, height = 1080, frames = software ? 10 : 120;
    OffscreenRenderer renderer(float(width), float(height), ColorSpace::GenericRGB, composition);
    const std::pair<Readback, const char*> modes[] = {
        {Readback::None, "render alone"},
        {Readback::Synchronous, "render + synchronous readback"},
        {Readback::Asynchronous, "render + asynchronous readback"}};
    double best[3] = {0, 0, 0};
    for (const auto& mode : modes) readbackFps(renderer, mode.first, 2);  // warm-up
    for (int round = 0; round < rounds; ++round) {
        for (int m = 0; m < 3; ++m)
            best[m] = std::max(best[m], readbackFps(renderer, modes[m].first, frames));
    }
    std::printf("readback at %dx%d, %d frames per round, RGBA8:\n", width, height, frames);
    for (int m = 0; m < 3; ++m) {
        std::printf("  %-32s %9.2f f/s %8.3f ms/frame %6.0f%%\n", modes[m].second, best[m],
                    1000.0 / best[m], 100.0 * best[m] / best[0]);
    }
    std::fflush(stdout);
}

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Frames for a yuv420p encoder (H.264's format), as LumivaneCLI makes them:
// converted on the GPU and read back as planes, or read back as RGBA and
// converted by swscale. CPU time counts every thread, the rasterizer's too.
void conversionLines(const std::shared_ptr<Composition>& composition,
                     const std::vector<std::pair<int, int>>& sizes, bool software, int rounds) {
    EncoderSettings settings;
    settings.pixelFormat = AV_PIX_FMT_YUV420P;
    const YuvLayout layout = *FrameConverter::yuvLayout(settings);
    std::printf("frames for a yuv420p encoder:\n  %-11s %-4s %14s %12s %12s\n", "output", "conv",
                "readback B/f", "CPU ms/f", "wall ms/f");
    for (const auto& [width, height] : sizes) {
        OffscreenRenderer renderer(float(width), float(height), ColorSpace::GenericRGB,
                                   composition);
        FrameConverter converter(width, height, settings);
        const int frames = software ? (width * height > 1'000'000 ? 6 : 20) : 120;
        for (const bool gpu : {true, false}) {
            double bestCpu = 1e9, bestWall = 1e9;
            size_t bytes = 0;
            for (int round = 0; round <= rounds; ++round) {  // round 0 warms up
                std::optional<ReadbackTicket> pending;
                const auto takePending = [&] {
                    auto image = renderer.takeReadback(*pending);
                    if (!image) throw EngineError(image.error());
                    bytes = std::visit([](const auto& i) { return i.pixels.size(); }, *image);
                    if (std::holds_alternative<ImageRGBAF>(*image)) bytes *= sizeof(float);
                    if (auto converted = converter.convert(*image); !converted)
                        throw EngineError(converted.error());
                };
                const double cpu = cpuSeconds();
                const auto wall = Clock::now();
                for (int i = 0; i < frames; ++i) {
                    bench::render(renderer, i / 30.0);
                    auto ticket =
                        gpu ? renderer.beginReadback(ReadbackSource::Render, layout)
                            : renderer.beginReadback(ReadbackSource::Render, TargetFormat::RGBA8);
                    if (!ticket) throw EngineError(ticket.error());
                    if (pending) takePending();
                    pending = *ticket;
                }
                if (pending) takePending();
                if (round == 0) continue;
                bestCpu = std::min(bestCpu, (cpuSeconds() - cpu) / frames);
                bestWall = std::min(bestWall, seconds(wall) / frames);
            }
            std::printf("  %5dx%-5d %-4s %14zu %12.2f %12.2f\n", width, height, gpu ? "GPU" : "CPU",
                        bytes, bestCpu * 1000, bestWall * 1000);
            std::fflush(stdout);
        }
    }
}

long peakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

}  // namespace

bool isSoftware(const std::string& renderer) {
    return renderer.find("llvmpipe") != std::string::npos ||
           renderer.find("softpipe") != std::string::npos ||
           renderer.find("SwiftShader") != std::string::npos;
}

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    try {
        auto composition = Composition::compositionWithFile(options.composition);
        std::string rendererName;
        if (auto probe = HeadlessGLContext::create()) rendererName = (*probe)->rendererName();
        std::printf("GL renderer: %s\n", rendererName.c_str());
        const bool software = isSoftware(rendererName);
        if (options.frames == 0) options.frames = software ? 1 : 3;
        std::printf("%s, %d frame(s) per line\n", options.composition.c_str(), options.frames);
        if (options.readback == "only") options.sizes.clear();
        if (!options.sizes.empty()) {
            std::printf("%-11s %3s %3s %12s %12s %7s\n", "output", "AA", "MB", "pipeline f/s",
                        "bare f/s", "ratio");
        }
        for (const auto& [width, height] : options.sizes) {
            for (int aa : options.aa) {
                for (int mb : options.mb) {
                    const double megapixels = double(width) * height * aa * aa * mb / 1e6;
                    if (software && !options.all && megapixels > options.budget) {
                        std::printf(
                            "%5dx%-5d %3d %3d   skipped: %.0f Mpixel/frame on a software "
                            "rasterizer (--all 1 runs it)\n",
                            width, height, aa, mb, megapixels);
                        continue;
                    }
                    OffscreenRenderer renderer(float(width * aa), float(height * aa),
                                               ColorSpace::GenericRGB, composition);
                    // Without an accumulator every draw goes into the renderer's own
                    // target, one after the other, as a bare loop draws.
                    OffscreenRenderer bareRenderer(float(width * aa), float(height * aa),
                                                   ColorSpace::GenericRGB, composition);
                    // Untimed warm-up of both paths: shader variants and buffers are made
                    // on first use.
                    bareFps(bareRenderer, width, height, 1, 1);
                    pipelineFps(renderer, width, height, aa, std::min(mb, 2), 1);
                    double bare = 0, pipeline = 0;
                    for (int round = 0; round < options.rounds; ++round) {
                        bare = std::max(bare,
                                        bareFps(bareRenderer, width, height, mb, options.frames));
                        pipeline = std::max(
                            pipeline, pipelineFps(renderer, width, height, aa, mb, options.frames));
                    }
                    std::printf("%5dx%-5d %3d %3d %12.2f %12.2f %6.0f%%\n", width, height, aa, mb,
                                pipeline, bare, 100.0 * pipeline / bare);
                    std::fflush(stdout);
                }
            }
        }
        if (options.readback != "0") readbackLines(composition, software, options.rounds);
        if (options.convert != "0")
            conversionLines(composition, options.convertSizes, software, options.rounds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "engine_bench: %s\n", error.what());
        return 1;
    }
    std::printf("peak RSS: %ld MiB\n", peakRssMiB());
    return 0;
}
