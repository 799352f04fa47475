#include "platform/media/MovieContainer.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/media/CodecRegistry.h"

namespace lumivane {

const std::vector<MovieContainer>& movieContainers() {
    static const std::vector<MovieContainer> containers = {
        {"QuickTime", "mov", ".mov", true},
        {"MP4", "mp4", ".mp4, .m4v", true},
        {"Matroska", "matroska", ".mkv", false},
        {"WebM", "webm", ".webm", false},
    };
    return containers;
}

const MovieContainer* containerForMuxer(const std::string& muxer) {
    for (const MovieContainer& container : movieContainers()) {
        if (muxer == container.muxer) return &container;
    }
    return nullptr;
}

const MovieContainer& containerForPath(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (extension == ".mp4" || extension == ".m4v") return *containerForMuxer("mp4");
    if (extension == ".mkv") return *containerForMuxer("matroska");
    if (extension == ".webm") return *containerForMuxer("webm");
    return movieContainers().front();
}

std::optional<std::string> containerRefusal(const std::string& path, const std::string& fourcc) {
    const std::optional<CodecInfo> codec = codecForFourCC(fourcc);
    if (!codec) return std::nullopt;
    const MovieContainer& wanted = containerForPath(path);
    if (codec->takes(wanted.muxer)) return std::nullopt;
    std::string others;
    for (const MovieContainer& container : movieContainers()) {
        if (!codec->takes(container.muxer)) continue;
        others += (others.empty() ? "" : ", ") + std::string(container.name) + " (" +
                  container.extensions + ")";
    }
    return "codec '" + fourcc + "' cannot go in a " + wanted.name + " movie (\"" + path +
           "\"); it goes in " + others;
}

}  // namespace lumivane
