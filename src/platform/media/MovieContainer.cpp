#include "platform/media/MovieContainer.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/media/CodecRegistry.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace lumivane {
namespace {

std::string lowerExtension(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

const MovieContainer* containerForExtension(const std::string& extension) {
    if (extension.empty()) return nullptr;
    for (const MovieContainer& container : movieContainers()) {
        const std::string listed = std::string(container.extensions) + ",";
        if (listed.find(extension + ",") != std::string::npos) return &container;
    }
    return nullptr;
}

}  // namespace

const std::vector<MovieContainer>& movieContainers() {
    static const std::vector<MovieContainer> containers = {
        {"QuickTime", "mov", ".mov", true},      {"MP4", "mp4", ".mp4, .m4v", true},
        {"Matroska", "matroska", ".mkv", false}, {"WebM", "webm", ".webm", false},
        {"GIF", "gif", ".gif", false, "gif "},   {"WebP", "webp", ".webp", false, "webp"},
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
    const MovieContainer* container = containerForExtension(lowerExtension(path));
    return container ? *container : movieContainers().front();
}

std::optional<std::string> unwrittenFormat(const std::string& path) {
    const std::string extension = lowerExtension(path);
    if (extension.size() < 2 || containerForExtension(extension)) return std::nullopt;
    // Guessed by the extension alone: a directory or a number pattern in the
    // name must not pick a format.
    const std::string probe = "x" + extension;
    const AVOutputFormat* format = av_guess_format(nullptr, probe.c_str(), nullptr);
    if (!format) return std::nullopt;
    const std::string known = format->long_name ? format->long_name : format->name;
    return "\"" + path + "\": " + extension + " names " + known +
           ", which is not written here; movies go in " + containerList() +
           ", or in QuickTime under a name without an extension";
}

std::string containerList() {
    std::string list;
    for (const MovieContainer& container : movieContainers()) {
        list += (list.empty() ? "" : ", ") + std::string(container.name) + " (" +
                container.extensions + ")";
    }
    return list;
}

std::optional<std::string> containerRefusal(const std::string& path, const std::string& fourcc) {
    if (auto unwritten = unwrittenFormat(path)) return unwritten;
    const MovieContainer& wanted = containerForPath(path);
    const std::optional<CodecInfo> codec = codecForFourCC(fourcc);
    if (wanted.animation && !codecForFourCC(wanted.animation)) {
        return "\"" + path + "\": this FFmpeg has no encoder for " + wanted.name + " animations";
    }
    if (!codec) return std::nullopt;
    if (codec->takes(wanted.muxer)) return std::nullopt;
    std::string others;
    for (const MovieContainer& container : movieContainers()) {
        if (!codec->takes(container.muxer)) continue;
        others += (others.empty() ? "" : ", ") + std::string(container.name) + " (" +
                  container.extensions + ")";
    }
    std::string refusal = "codec '" + fourcc + "' cannot go in a " + wanted.name + " movie (\"" +
                          path + "\"); it goes in " + others;
    if (wanted.animation)
        refusal += std::string("; ") + wanted.name + " takes '" + wanted.animation + "'";
    return refusal;
}

}  // namespace lumivane
