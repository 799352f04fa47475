#include "MediaTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ProcessRunner.h"
#include "platform/media/MovieContainer.h"

namespace lumivane::test {

ImageRGBA8 gradientFrame(int width, int height, int index, bool translucent) {
    ImageRGBA8 image{width, height, std::vector<uint8_t>(size_t(width) * height * 4)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &image.pixels[(size_t(y) * width + x) * 4];
            p[0] = uint8_t((x * 255 / std::max(1, width - 1) + index * 8) % 256);
            p[1] = uint8_t(y * 255 / std::max(1, height - 1));
            p[2] = uint8_t(128 + 64 * std::sin((x + y + index * 4) * 0.05));
            p[3] = translucent ? uint8_t(x * 255 / std::max(1, width - 1)) : 255;
        }
    }
    return image;
}

ImageRGBAF toFloat(const ImageRGBA8& image) {
    ImageRGBAF out{image.width, image.height, std::vector<float>(image.pixels.size())};
    for (size_t i = 0; i < image.pixels.size(); ++i) out.pixels[i] = image.pixels[i] / 255.0f;
    return out;
}

ImageRGBA8 solidFrame(int width, int height, std::array<uint8_t, 4> rgba) {
    ImageRGBA8 image{width, height, std::vector<uint8_t>(size_t(width) * height * 4)};
    for (size_t i = 0; i < image.pixels.size(); i += 4)
        std::copy(rgba.begin(), rgba.end(), image.pixels.begin() + i);
    return image;
}

nlohmann::json probeStream(const std::string& path) {
    const ShellResult probe = runShell(
        "ffprobe -v error -count_packets -select_streams v:0 -show_streams -show_format -of json " +
        shellQuoted(path));
    if (!probe.ok()) return nullptr;
    const nlohmann::json document = nlohmann::json::parse(probe.output, nullptr, false);
    if (document.is_discarded() || !document.contains("streams") || document["streams"].empty()) {
        return nullptr;
    }
    nlohmann::json stream = document["streams"][0];
    stream["format"] = document["format"];
    return stream;
}

std::vector<int64_t> presentationSteps(const std::string& path) {
    const ShellResult probe =
        runShell("ffprobe -v error -select_streams v:0 -show_entries packet=pts -of csv=p=0 " +
                 shellQuoted(path));
    std::vector<int64_t> times;
    size_t start = 0;
    while (start < probe.output.size()) {
        size_t end = probe.output.find('\n', start);
        if (end == std::string::npos) end = probe.output.size();
        const std::string line = probe.output.substr(start, end - start);
        if (!line.empty()) times.push_back(std::atoll(line.c_str()));
        start = end + 1;
    }
    std::sort(times.begin(), times.end());
    std::vector<int64_t> steps;
    for (size_t i = 1; i < times.size(); ++i) steps.push_back(times[i] - times[i - 1]);
    return steps;
}

std::vector<uint8_t> decodeRGBA(const std::string& path) {
    const ShellResult decoded = runShell("ffmpeg -v error -i " + shellQuoted(path) +
                                         " -fps_mode passthrough -f rawvideo -pix_fmt rgba -");
    return std::vector<uint8_t>(decoded.output.begin(), decoded.output.end());
}

Difference compareRGBA(const std::vector<ImageRGBA8>& expected, const std::vector<uint8_t>& decoded,
                       bool includeAlpha) {
    Difference difference;
    size_t offset = 0;
    double total = 0;
    size_t samples = 0;
    for (const ImageRGBA8& frame : expected) {
        for (size_t i = 0; i < frame.pixels.size(); ++i, ++offset) {
            if (i % 4 == 3 && !includeAlpha) continue;
            if (offset >= decoded.size()) return {1e9, 255};
            const int delta = std::abs(int(frame.pixels[i]) - int(decoded[offset]));
            total += delta;
            ++samples;
            difference.largest = std::max(difference.largest, delta);
        }
    }
    difference.mean = samples ? total / samples : 0;
    return difference;
}

std::string movieExtensionFor(const CodecInfo& codec) {
    if (codec.takes("mov") || codec.containers.empty()) return ".mov";
    const std::string shown = containerForMuxer(codec.containers.front())->extensions;
    return shown.substr(0, shown.find(','));
}

}  // namespace lumivane::test
