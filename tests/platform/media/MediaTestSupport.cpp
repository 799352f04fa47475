#include "MediaTestSupport.h"

#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace lumivane::test {

ScratchDirectory::ScratchDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "lumivane-media-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code error;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(m_path, error);
}

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

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

CommandResult runCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 65536> buffer{};
    size_t count = 0;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        result.output.append(buffer.data(), count);
    }
    result.ok = ::pclose(pipe) == 0;
    return result;
}

nlohmann::json probeStream(const std::string& path) {
    const CommandResult probe = runCommand(
        "ffprobe -v error -count_packets -select_streams v:0 -show_streams -show_format -of json " +
        quoted(path));
    if (!probe.ok) return nullptr;
    const nlohmann::json document = nlohmann::json::parse(probe.output, nullptr, false);
    if (document.is_discarded() || !document.contains("streams") || document["streams"].empty()) {
        return nullptr;
    }
    nlohmann::json stream = document["streams"][0];
    stream["format"] = document["format"];
    return stream;
}

std::vector<int64_t> packetDurations(const std::string& path) {
    const CommandResult probe = runCommand(
        "ffprobe -v error -select_streams v:0 -show_entries packet=duration -of csv=p=0 " +
        quoted(path));
    std::vector<int64_t> durations;
    size_t start = 0;
    while (start < probe.output.size()) {
        size_t end = probe.output.find('\n', start);
        if (end == std::string::npos) end = probe.output.size();
        const std::string line = probe.output.substr(start, end - start);
        if (!line.empty()) durations.push_back(std::atoll(line.c_str()));
        start = end + 1;
    }
    return durations;
}

std::vector<uint8_t> decodeRGBA(const std::string& path) {
    const CommandResult decoded =
        runCommand("ffmpeg -v error -i " + quoted(path) + " -f rawvideo -pix_fmt rgba -");
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

}  // namespace lumivane::test
