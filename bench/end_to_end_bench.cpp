// What writing a movie adds to a render: the same frames rendered alone (kept
// in memory), encoded alone (from memory), and rendered straight into the
// movie, in one run. The end-to-end time should stay within 1.1 x the sum.
//
//   end_to_end_bench [--frames N] [--size WxH] [--codec avc1] [--quality 2]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchOptions.h"
#include "BenchRender.h"
#include "platform/engine/Composition.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/OffscreenRenderer.h"
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
    std::string composition;
};

Options parse(int argc, char** argv) {
    const bench::BenchOptions given(argc, argv,
                                    {"--frames", "--size", "--codec", "--quality", "--composition"},
                                    "[--frames N] [--size WxH] [--codec avc1] [--quality 2] "
                                    "[--composition PATH]");
    Options options;
    options.frames = given.count("--frames", options.frames);
    const auto size = given.sizes("--size", {{options.width, options.height}});
    if (!size.empty()) std::tie(options.width, options.height) = size.front();
    options.codec = given.text("--codec", options.codec);
    options.quality = given.integer("--quality", options.quality);
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

ImageRGBA8 renderFrame(OffscreenRenderer& renderer, int index) {
    renderer.clear();
    bench::render(renderer, index / 30.0);
    return renderer.createSnapshotImage();
}

std::unique_ptr<MovieWriter> openMovie(const Options& options, const std::string& path) {
    auto movie = MovieWriter::create(path, options.codec, options.quality, 30.0, options.width,
                                     options.height);
    if (!movie) {
        std::fprintf(stderr, "%s\n", movie.error().c_str());
        std::exit(1);
    }
    return std::move(movie.value());
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    const std::string movie = (std::filesystem::temp_directory_path() /
                               ("lumivane-bench-" + std::to_string(getpid()) + ".mov"))
                                  .string();

    auto renderer = makeRenderer(options);
    std::vector<ImageRGBA8> frames;
    frames.reserve(static_cast<size_t>(options.frames));
    auto start = Clock::now();
    for (int i = 0; i < options.frames; ++i) frames.push_back(renderFrame(*renderer, i));
    const double renderAlone = secondsSince(start);

    start = Clock::now();
    auto writer = openMovie(options, movie);
    for (const auto& frame : frames) (void)writer->addFrame(frame);
    (void)writer->updateMovieFile();
    const double encodeAlone = secondsSince(start);
    frames.clear();

    renderer = makeRenderer(options);
    start = Clock::now();
    writer = openMovie(options, movie);
    for (int i = 0; i < options.frames; ++i) (void)writer->addFrame(renderFrame(*renderer, i));
    (void)writer->updateMovieFile();
    const double endToEnd = secondsSince(start);
    std::filesystem::remove(movie);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%d frames %dx%d, codec %s quality %d\n", options.frames, options.width,
                options.height, options.codec.c_str(), options.quality);
    std::printf("  render alone  %7.3f s  (%6.1f f/s)\n", renderAlone,
                options.frames / renderAlone);
    std::printf("  encode alone  %7.3f s  (%6.1f f/s)\n", encodeAlone,
                options.frames / encodeAlone);
    std::printf("  end to end    %7.3f s  (%6.1f f/s)\n", endToEnd, options.frames / endToEnd);
    std::printf("  end to end / (render + encode) = %.3f  (target <= 1.10)\n",
                endToEnd / (renderAlone + encodeAlone));
    std::printf("  peak RSS %ld MiB\n", usage.ru_maxrss / 1024);
    return 0;
}
