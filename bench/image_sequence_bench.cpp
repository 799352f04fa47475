// Image sequences: what each quality level costs and saves per format, beside
// the ffmpeg program writing the same frames and OpenImageIO's PNG writer
// (libpng, adaptive filtering: how every PNG level was written before), and
// how the sequence writer's workers scale.
//
//   image_sequence_bench [--frames N] [--size WxH] [--formats png,tiff,...]
//                        [--workers 1,2,4] [--raw FILE] [--composition PATH]
//
// Frames are N renders of the demo (default 8 at 1280x720), or N frames of a
// raw RGBA file of that size. Every case writes the same frames; processor
// time is all threads of the writer (or of ffmpeg), per frame.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchOptions.h"
#include "BenchRender.h"
#include "cli/OutputStage.h"
#include "platform/engine/Composition.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/OffscreenRenderer.h"
#include "platform/imagefiles/ImageFileLibrary.h"
#include "platform/media/ImageFormatSettings.h"
#include "platform/media/ImageSequence.h"
#include "platform/media/ImageSequenceWriter.h"
#include "platform/media/PngFilter.h"

#ifdef LUMIVANE_BENCH_SPNG
#include <spng.h>
#endif

namespace {

using namespace lumivane;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct Measure {
    double cpuMs = 0;   // per frame
    double wallMs = 0;  // per frame
    double bytes = 0;   // per frame
};

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double directoryBytes(const fs::path& directory) {
    double bytes = 0;
    for (const auto& entry : fs::directory_iterator(directory)) bytes += double(entry.file_size());
    return bytes;
}

template <class Work>
Measure measure(int frames, int who, const fs::path& directory, Work work) {
    fs::remove_all(directory);
    fs::create_directories(directory);
    const double cpu = cpuSeconds(who);
    const auto start = Clock::now();
    work();
    Measure m;
    m.wallMs = 1000 * std::chrono::duration<double>(Clock::now() - start).count() / frames;
    m.cpuMs = 1000 * (cpuSeconds(who) - cpu) / frames;
    m.bytes = directoryBytes(directory) / frames;
    fs::remove_all(directory);
    return m;
}

void orExit(const Result<void>& result) {
    if (result) return;
    std::fprintf(stderr, "%s\n", result.error().c_str());
    std::exit(1);
}

std::shared_ptr<ImageSequenceWriter> openWriter(const fs::path& directory, const char* type,
                                                int frames, int quality) {
    auto writer = ImageSequenceWriter::open(directory.string(), type, frames, quality);
    if (!writer) {
        std::fprintf(stderr, "%s\n", writer.error().c_str());
        std::exit(1);
    }
    return std::shared_ptr<ImageSequenceWriter>(std::move(writer.value()));
}

// Through the output stage, as the renderer writes: `workers` files at once.
Measure writeSequence(const std::vector<ImageRGBA8>& frames, const fs::path& directory,
                      const char* type, int quality, int workers) {
    const int count = int(frames.size());
    return measure(count, RUSAGE_SELF, directory, [&] {
        auto writer = openWriter(directory, type, count, quality);
        OutputStage stage(
            [writer](int index, const FrameImage& frame) -> std::optional<FrameOutputFailure> {
                if (auto written = writer->writeFrame(index, frame); !written)
                    return FrameOutputFailure{written.error(), ""};
                return std::nullopt;
            },
            workers, workers + 1);
        for (int i = 0; i < count; ++i) (void)stage.push(i, frames[size_t(i)]);
        if (auto failure = stage.drain()) {
            std::fprintf(stderr, "%s\n", failure->consoleLine.c_str());
            std::exit(1);
        }
    });
}

// OpenImageIO's PNG writer at its defaults, as every PNG frame was written before.
Measure oiioPng(const std::vector<ImageRGBA8>& frames, const fs::path& directory) {
    return measure(int(frames.size()), RUSAGE_SELF, directory, [&] {
        for (size_t i = 0; i < frames.size(); ++i) {
            imagefiles::ImageToWrite spec;
            spec.width = frames[i].width;
            spec.height = frames[i].height;
            spec.channels = 4;
            spec.samples = frames[i].pixels.data();
            spec.straightAlpha = true;
            const fs::path path = directory / ("Image-" + std::to_string(i + 1) + ".png");
            orExit(ImageFileLibrary::write(path.string(), spec));
        }
    });
}

#ifdef LUMIVANE_BENCH_SPNG
// libspng with the filter and zlib level our PNG frames get at `level`.
Measure spngPng(const std::vector<ImageRGBA8>& frames, const fs::path& directory, int level) {
    return measure(int(frames.size()), RUSAGE_SELF, directory, [&] {
        for (size_t i = 0; i < frames.size(); ++i) {
            const ImageRGBA8& frame = frames[i];
            const std::string filter =
                choosePngFilter(frame.pixels.data(), frame.width, frame.height, 4);
            const int choice = filter == "sub"  ? SPNG_FILTER_CHOICE_SUB
                               : filter == "up" ? SPNG_FILTER_CHOICE_UP
                                                : SPNG_FILTER_CHOICE_NONE;
            const fs::path path = directory / ("Image-" + std::to_string(i + 1) + ".png");
            FILE* file = std::fopen(path.c_str(), "wb");
            spng_ctx* context = spng_ctx_new(SPNG_CTX_ENCODER);
            spng_set_png_file(context, file);
            spng_set_option(context, SPNG_FILTER_CHOICE, choice);
            spng_set_option(context, SPNG_IMG_COMPRESSION_LEVEL, pngZlibLevel(level));
            spng_ihdr header{};
            header.width = uint32_t(frame.width);
            header.height = uint32_t(frame.height);
            header.bit_depth = 8;
            header.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
            spng_set_ihdr(context, &header);
            const int rc = spng_encode_image(context, frame.pixels.data(), frame.pixels.size(),
                                             SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
            spng_ctx_free(context);
            std::fclose(file);
            if (rc != 0) {
                std::fprintf(stderr, "libspng: %s\n", spng_strerror(rc));
                std::exit(1);
            }
        }
    });
}
#endif

Measure ffmpeg(const std::string& raw, int width, int height, int frames, const fs::path& directory,
               const std::string& codec, const char* extension) {
    const std::string command = "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt rgba -s " +
                                std::to_string(width) + "x" + std::to_string(height) + " -i '" +
                                raw + "' " + codec + " '" + (directory / "f-%03d.").string() +
                                extension + "'";
    return measure(frames, RUSAGE_CHILDREN, directory, [&] {
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "ffmpeg failed: %s\n", command.c_str());
            std::exit(1);
        }
    });
}

void printLine(const std::string& format, const std::string& level, const std::string& setting,
               const Measure& m) {
    std::printf("%-6s %-7s %-24s | %8.1f %8.1f | %10.0f\n", format.c_str(), level.c_str(),
                setting.c_str(), m.cpuMs, m.wallMs, m.bytes);
    std::fflush(stdout);
}

std::vector<ImageRGBA8> renderFrames(const std::string& compositionPath, int width, int height,
                                     int count) {
    auto composition = Composition::compositionWithFile(compositionPath);
    OffscreenRenderer renderer(float(width), float(height), ColorSpace::GenericRGB, composition);
    std::vector<ImageRGBA8> frames;
    for (int i = 0; i < count; ++i) {
        renderer.clear();
        // A few seconds apart, so frames differ as much as a render's do.
        bench::render(renderer, i * 0.7);
        frames.push_back(renderer.createSnapshotImage());
    }
    return frames;
}

std::vector<ImageRGBA8> readFrames(const std::string& path, int width, int height, int count) {
    std::ifstream in(path, std::ios::binary);
    std::vector<ImageRGBA8> frames;
    for (int i = 0; i < count; ++i) {
        ImageRGBA8 frame{width, height, std::vector<uint8_t>(size_t(width) * height * 4)};
        if (!in.read(reinterpret_cast<char*>(frame.pixels.data()),
                     std::streamsize(frame.pixels.size())))
            break;
        frames.push_back(std::move(frame));
    }
    if (frames.empty()) {
        std::fprintf(stderr, "\"%s\": no %dx%d RGBA frame\n", path.c_str(), width, height);
        std::exit(1);
    }
    return frames;
}

// The ffmpeg program's counterpart per format, on the same raw frames.
struct Reference {
    const char* extension;
    const char* label;
    const char* arguments;
};
const Reference kReferences[] = {
    {"png", "ffmpeg png (no filter, zlib 6)", "-c:v png"},
    {"tiff", "ffmpeg tiff deflate", "-c:v tiff -compression_algo deflate"},
    {"exr", "ffmpeg exr zip16 (half)", "-c:v exr -compression zip16 -format half"},
};

}  // namespace

int main(int argc, char** argv) {
    const bench::BenchOptions given(
        argc, argv, {"--frames", "--size", "--formats", "--workers", "--raw", "--composition"},
        "[--frames N] [--size WxH] [--formats png,jpg,jp2,tiff,exr] [--workers 1,2,4] "
        "[--raw FILE] [--composition PATH]");
    const int count = given.count("--frames", 8);
    const auto size = given.sizes("--size", {{1280, 720}});
    const int width = size.empty() ? 1280 : size.front().first;
    const int height = size.empty() ? 720 : size.front().second;
    const std::string formats = given.text("--formats", "png,jpg,jp2,tiff,exr");
    const std::vector<int> workerCounts = given.integers("--workers", {1, 2, 4});
    const fs::path scratch =
        fs::temp_directory_path() / ("lumivane-seq-bench-" + std::to_string(getpid()));
    fs::create_directories(scratch);

    const auto raw = given.text("--raw");
    const std::vector<ImageRGBA8> frames =
        raw ? readFrames(*raw, width, height, count)
            : renderFrames(given.composition(), width, height, count);
    const std::string rawPath = (scratch / "frames.rgba").string();
    {
        std::ofstream out(rawPath, std::ios::binary);
        for (const auto& frame : frames)
            out.write(reinterpret_cast<const char*>(frame.pixels.data()),
                      std::streamsize(frame.pixels.size()));
    }
    const int n = int(frames.size());
    const fs::path out = scratch / "out";

    std::printf("%d frames %dx%d (%s), one worker unless said\n", n, width, height,
                raw ? raw->c_str() : "demo");
    std::printf("%-6s %-7s %-24s | %8s %8s | %10s\n", "format", "-q", "setting", "cpu ms/f",
                "wall ms/f", "bytes/f");
    const std::pair<const char*, const char*> types[] = {{"png", "public.png"},
                                                         {"jpg", "public.jpeg"},
                                                         {"jp2", "public.jpeg-2000"},
                                                         {"tiff", "public.tiff"},
                                                         {"exr", "com.ilm.openexr-image"}};
    for (const auto& [extension, type] : types) {
        if (formats.find(extension) == std::string::npos) continue;
        for (int level = 0; level <= 5; ++level) {
            printLine(extension, std::to_string(level), describeImageSetting(extension, level),
                      writeSequence(frames, out, type, level, 1));
        }
        if (std::string(extension) == "png") {
            printLine("png", "before", "OpenImageIO libpng", oiioPng(frames, out));
#ifdef LUMIVANE_BENCH_SPNG
            printLine("png", "3", "libspng, same as ours", spngPng(frames, out, 3));
#endif
        }
        for (const Reference& reference : kReferences) {
            if (std::string(reference.extension) != extension) continue;
            printLine(extension, "ffmpeg", reference.label,
                      ffmpeg(rawPath, width, height, n, out, reference.arguments, extension));
        }
    }
    for (int workers : workerCounts) {
        const Measure m = writeSequence(frames, out, "public.png", 3, workers);
        std::printf("png -q 3, %d worker%s: %6.1f f/s, cpu %6.1f ms/f\n", workers,
                    workers == 1 ? "" : "s", 1000.0 / m.wallMs, m.cpuMs);
    }
    fs::remove_all(scratch);
    return 0;
}
