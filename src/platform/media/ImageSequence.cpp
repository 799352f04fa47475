#include "platform/media/ImageSequence.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <utility>

namespace lumivane {
namespace {

constexpr std::array<std::pair<const char*, const char*>, 5> kImageTypes = {{
    {"public.jpeg", "jpg"},
    {"public.jpeg-2000", "jp2"},
    {"public.png", "png"},
    {"public.tiff", "tiff"},
    {"com.ilm.openexr-image", "exr"},
}};

bool allDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

}  // namespace

bool isImageSequenceType(const std::string& codec) {
    return !imageSequenceExtension(codec).empty();
}

std::string imageSequenceExtension(const std::string& codec) {
    for (const auto& [type, extension] : kImageTypes) {
        if (codec == type) return extension;
    }
    return {};
}

bool isImageSequenceExtension(const std::string& extension) {
    for (const auto& entry : kImageTypes) {
        if (extension == entry.second) return true;
    }
    return false;
}

int sequenceDigitCount(int frameCount) {
    if (frameCount <= 0) return 1;
    const float logarithm = static_cast<float>(std::log10(static_cast<double>(frameCount)));
    return static_cast<int>(logarithm + 1.0f);
}

std::optional<SequenceFileName> parseSequenceFileName(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return std::nullopt;
    SequenceFileName parsed;
    parsed.extension = name.substr(dot + 1);
    if (!isImageSequenceExtension(parsed.extension)) return std::nullopt;
    std::string stem = name.substr(0, dot);
    if (stem.rfind(".Image-", 0) == 0) {
        const size_t partial = stem.rfind(".partial-");
        if (partial == std::string::npos) return std::nullopt;
        parsed.partial = true;
        parsed.writer = stem.substr(partial + 9);
        if (!allDigits(parsed.writer)) return std::nullopt;
        stem = stem.substr(1, partial - 1);
    }
    if (stem.rfind("Image-", 0) != 0) return std::nullopt;
    parsed.number = stem.substr(6);
    if (!allDigits(parsed.number)) return std::nullopt;
    return parsed;
}

}  // namespace lumivane
