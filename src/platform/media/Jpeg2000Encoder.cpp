#include "platform/media/Jpeg2000Encoder.h"

#include <algorithm>
#include <string>

#include "platform/media/StillImageEncoder.h"

namespace lumivane {
namespace {
constexpr int kDefaultLevels = 6;
}  // namespace

int jpeg2000ResolutionLevels(int width, int height) {
    const int side = std::min(width, height);
    int levels = 1;
    while (levels < kDefaultLevels && (1 << levels) <= side) ++levels;
    return levels;
}

Result<std::vector<uint8_t>> encodeJpeg2000(const std::vector<uint8_t>& rgb, int width, int height,
                                            Jpeg2000Encoding encoding) {
    if (width <= 0 || height <= 0 || rgb.size() != size_t(width) * size_t(height) * 3) {
        return Error{"frame has no pixels or a wrong pixel count"};
    }
    StillEncoder encoder;
    encoder.name = "libopenjpeg";
    encoder.srgb = false;
    encoder.options = {{"format", "jp2"},
                       {"numresolution", std::to_string(jpeg2000ResolutionLevels(width, height))}};
    if (!encoding.lossless) {
        encoder.options.emplace_back("irreversible", "1");
        // FFmpeg hands OpenJPEG twice the compression level as the rate.
        if (encoding.ratio > 0) encoder.compressionLevel = std::max(1, encoding.ratio / 2);
    }
    return encodeStill(StillImage{width, height, AV_PIX_FMT_RGB24, rgb.data(), width * 3}, encoder);
}

}  // namespace lumivane
