// One image encoded by an FFmpeg encoder into the bytes of a file (PNG and
// JPEG-2000 frames): the encoders are linked already, so these formats need
// no image library loaded.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "base/Result.h"

namespace lumivane {

// Samples in `format`, rows top first, `lineBytes` apart; not copied.
struct StillImage {
    int width = 0;
    int height = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    const uint8_t* samples = nullptr;
    int lineBytes = 0;
};

struct StillEncoder {
    const char* name = "";
    int compressionLevel = -1;  // -1: the encoder's default
    std::vector<std::pair<std::string, std::string>> options;
    bool srgb = true;  // tag the file as sRGB where the format can say so
};

Result<std::vector<uint8_t>> encodeStill(const StillImage& image, const StillEncoder& encoder);

}  // namespace lumivane
