// What writing a movie adds to a render: the same frames rendered alone (kept
// in memory), encoded alone (from memory), and rendered straight into the
// movie through the renderer's output stage (encoding on its own thread while
// the next frame renders), in one run. With the overlap the end-to-end time
// approaches the larger of the two, not their sum. --pinned 1 holds the
// rasterizer and the encoder to one thread each, so the overlap shows on a
// machine with two cores. A PNG sequence at 1080p is written with one worker
// and with two.
//
// End to end runs twice where the codec takes YUV planes: with frames read
// back as RGBA and converted by swscale (the CPU path, LUMIVANE_GPU_CONVERT=0)
// and converted on the GPU, each with its bytes read back, CPU time (every
// thread) and wall time per frame; swscale's own CPU time per frame, measured
// on the rendered frames, gives its share of the CPU path.
//
//   end_to_end_bench [--frames N] [--size WxH] [--codec avc1] [--quality 2]
//                    [--pinned 0|1] [--png-frames N]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "BenchOptions.h"
#include "BenchRender.h"
#include "cli/OutputStage.h"
#include "platform/engine/Composition.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/OffscreenRenderer.h"
#include "platform/engine/YuvConversion.h"
#include "platform/media/CodecRegistry.h"
#include "platform/media/FrameConverter.h"
#include "platform/media/ImageSequenceWriter.h"
#include "platform/media/MovieWriter.h"

namespace {

using namespace lumivane;
using Clock = std::chrono::steady_clock;

struct Options {
    int frames = 60;
    int width = 640;
    int height = 480;
    std::string codec = "avc1";
    int quality = 2;
    bool pinned = false;
    int pngFrames = 30;
    std::string composition;
};

Options parse(int argc, char** argv) {
    const bench::BenchOptions given(
        argc, argv,
        {"--frames", "--size", "--codec", "--quality", "--composition", "--pinned", "--png-frames"},
        "[--frames N] [--size WxH] [--codec avc1] [--quality 2] "
        "[--pinned 0|1] [--png-frames N] [--composition PATH]");
    Options options;
    options.frames = given.count("--frames", options.frames);
    const auto size = given.sizes("--size", {{options.width, options.height}});
    if (!size.empty()) std::tie(options.width, options.height) = size.front();
    options.codec = given.text("--codec", options.codec);
    options.quality = given.integer("--quality", options.quality);
    options.pinned = given.integer("--pinned", 0) != 0;
    options.pngFrames = given.integer("--png-frames", options.pngFrames);
    options.composition = given.composition();
    return options;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::unique_ptr<OffscreenRenderer> makeRenderer(const Options& options) {
    auto composition = Composition::compositionWithFile(options.composition);
    auto size = [&](int v) { return static_cast<float>(v); };
    try {
        return std::make_unique<OffscreenRenderer>(size(options.width), size(options.height),
                                                   ColorSpace::Display, composition);
    } catch (const EngineError&) {
        return std::make_unique<OffscreenRenderer>(size(options.width), size(options.height),
                                                   ColorSpace::GenericRGB, composition);
    }
}

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// A frame as the movie takes it: RGBA for swscale, or the planes made on the GPU.
FrameImage renderFrame(OffscreenRenderer& renderer, int index,
                       const std::optional<YuvLayout>& planes = std::nullopt) {
    renderer.clear();
    bench::render(renderer, index / 30.0);
    if (!planes) return renderer.createSnapshotImage();
    auto ticket = renderer.beginReadback(ReadbackSource::Render, *planes);
    if (!ticket) throw EngineError(ticket.error());
    auto frame = renderer.takeReadback(*ticket);
    if (!frame) throw EngineError(frame.error());
    return std::move(*frame);
}

size_t frameBytes(const FrameImage& frame) {
    return std::visit([](const auto& image) { return image.pixels.size(); }, frame);
}

struct EndToEnd {
    double wall = 0;
    double cpu = 0;
    size_t readbackBytes = 0;
};

std::unique_ptr<MovieWriter> openMovie(const Options& options, const std::string& path) {
    auto movie = MovieWriter::create(path, options.codec, options.quality, 30.0, options.width,
                                     options.height);
    if (!movie) {
        std::fprintf(stderr, "%s\n", movie.error().c_str());
        std::exit(1);
    }
    return std::move(movie.value());
}

// Renders `frames` frames into `stage` and waits for the last one written.
double renderThrough(OffscreenRenderer& renderer, OutputStage& stage, int frames) {
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) (void)stage.push(i, renderFrame(renderer, i));
    (void)stage.drain();
    return secondsSince(start);
}

double pngSequence(const Options& options, int workers) {
    Options hd = options;
    hd.width = 1920;
    hd.height = 1080;
    auto renderer = makeRenderer(hd);
    const auto directory =
        std::filesystem::temp_directory_path() / ("lumivane-bench-png-" + std::to_string(getpid()));
    auto sequence = ImageSequenceWriter::open(directory.string(), "public.png", options.pngFrames,
                                              options.quality);
    if (!sequence) {
        std::fprintf(stderr, "%s\n", sequence.error().c_str());
        std::exit(1);
    }
    std::shared_ptr<ImageSequenceWriter> writer(std::move(sequence.value()));
    OutputStage stage(
        [writer](int index, const FrameImage& frame) -> std::optional<FrameOutputFailure> {
            if (auto written = writer->writeFrame(index, frame); !written)
                return FrameOutputFailure{written.error(), ""};
            return std::nullopt;
        },
        workers, workers + 1);
    const double seconds = renderThrough(*renderer, stage, options.pngFrames);
    std::filesystem::remove_all(directory);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    // Before the first context: the rasterizer reads it once.
    if (options.pinned) {
        setenv("LP_NUM_THREADS", "1", 1);
        MovieWriter::setEncoderThreads(1);
    }
    const std::string movie = (std::filesystem::temp_directory_path() /
                               ("lumivane-bench-" + std::to_string(getpid()) + ".mov"))
                                  .string();

    auto renderer = makeRenderer(options);
    std::vector<FrameImage> frames;
    frames.reserve(static_cast<size_t>(options.frames));
    auto start = Clock::now();
    for (int i = 0; i < options.frames; ++i) frames.push_back(renderFrame(*renderer, i));
    const double renderAlone = secondsSince(start);

    start = Clock::now();
    auto writer = openMovie(options, movie);
    for (const auto& frame : frames) (void)writer->addFrame(frame);
    (void)writer->updateMovieFile();
    const double encodeAlone = secondsSince(start);
    std::optional<YuvLayout> planes = writer->yuvLayout();
    if (planes && !YuvConversion::supports(*planes, options.width, options.height)) planes.reset();
    writer.reset();

    // swscale alone on the same frames, as the CPU path runs it.
    double swscaleCpu = 0;
    const auto codec = codecForFourCC(options.codec);
    if (auto settings =
            codec ? encoderSettings(*codec, options.quality, options.width, options.height)
                  : Result<EncoderSettings>(Error{"no codec"});
        settings && planes) {
        FrameConverter converter(options.width, options.height, *settings);
        const double cpu = cpuSeconds();
        for (const auto& frame : frames) (void)converter.convert(frame);
        swscaleCpu = (cpuSeconds() - cpu) / options.frames;
    }
    frames.clear();

    const auto endToEnd = [&](const std::optional<YuvLayout>& layout) {
        renderer = makeRenderer(options);
        EndToEnd result;
        const double cpu = cpuSeconds();
        const auto wall = Clock::now();
        std::shared_ptr<MovieWriter> shared(openMovie(options, movie));
        {
            OutputStage stage(
                [shared](int, const FrameImage& frame) -> std::optional<FrameOutputFailure> {
                    if (auto added = shared->addFrame(frame); !added)
                        return FrameOutputFailure{added.error(), ""};
                    return std::nullopt;
                },
                1, 2);
            for (int i = 0; i < options.frames; ++i) {
                FrameImage frame = renderFrame(*renderer, i, layout);
                result.readbackBytes = frameBytes(frame);
                (void)stage.push(i, std::move(frame));
            }
            (void)stage.drain();
        }
        (void)shared->updateMovieFile();
        result.wall = secondsSince(wall);
        result.cpu = cpuSeconds() - cpu;
        std::filesystem::remove(movie);
        renderer.reset();
        return result;
    };
    const EndToEnd cpuPath = endToEnd(std::nullopt);
    const EndToEnd gpuPath = planes ? endToEnd(planes) : EndToEnd{};

    const double png1 = options.pngFrames > 0 ? pngSequence(options, 1) : 0;
    const double png2 = options.pngFrames > 0 ? pngSequence(options, 2) : 0;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%d frames %dx%d, codec %s quality %d%s\n", options.frames, options.width,
                options.height, options.codec.c_str(), options.quality,
                options.pinned ? ", rasterizer and encoder on one thread each" : "");
    std::printf("  render alone  %7.3f s  (%6.1f f/s)\n", renderAlone,
                options.frames / renderAlone);
    std::printf("  encode alone  %7.3f s  (%6.1f f/s)\n", encodeAlone,
                options.frames / encodeAlone);
    const double endToEndTime = cpuPath.wall;
    std::printf("  end to end    %7.3f s  (%6.1f f/s)\n", endToEndTime,
                options.frames / endToEndTime);
    std::printf("  end to end / max(render, encode) = %.3f  (target <= 1.15 pinned)\n",
                endToEndTime / std::max(renderAlone, encodeAlone));
    std::printf("  end to end / (render + encode)   = %.3f\n",
                endToEndTime / (renderAlone + encodeAlone));
    const auto conversionLine = [&](const char* name, const EndToEnd& run) {
        std::printf(
            "  end to end, %s conversion: readback %zu B/frame, CPU %.2f ms/frame, wall "
            "%.2f ms/frame, / encode alone %.3f\n",
            name, run.readbackBytes, 1000 * run.cpu / options.frames,
            1000 * run.wall / options.frames, run.wall / encodeAlone);
    };
    conversionLine("CPU", cpuPath);
    if (planes) {
        conversionLine("GPU", gpuPath);
        std::printf("  swscale alone: CPU %.2f ms/frame, %.1f%% of the CPU path's CPU time\n",
                    1000 * swscaleCpu, 100 * swscaleCpu * options.frames / cpuPath.cpu);
    }
    if (options.pngFrames > 0) {
        std::printf("  PNG sequence 1920x1080, %d frames: 1 worker %.1f f/s, 2 workers %.1f f/s\n",
                    options.pngFrames, options.pngFrames / png1, options.pngFrames / png2);
    }
    std::printf("  peak RSS %ld MiB\n", usage.ru_maxrss / 1024);
    return 0;
}
