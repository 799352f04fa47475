#include "platform/media/ImageSequence.h"

#include <array>
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

}  // namespace lumivane
