// How a movie codec is driven at a quality level: which encoder, which pixel
// format, which options.
#pragma once

#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "base/Result.h"
#include "platform/media/CodecInfo.h"

namespace lumivane {

struct EncoderSettings {
    std::string encoder;                                       // FFmpeg encoder to open
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;               // what the encoder is fed
    std::vector<std::pair<std::string, std::string>> options;  // private options of the encoder
    int qscale = 0;                         // > 0: constant quantiser through the codec context
    int compressionLevel = -1;              // >= 0: the codec context's compression effort
    bool keepsAlpha = false;                // the pixel format carries alpha
    bool rgb = false;                       // the pixel format is RGB (no YUV matrix)
    bool fullRange = false;                 // YUV with full-range levels (Motion JPEG)
    AVColorSpace matrix = AVCOL_SPC_BT709;  // RGB to YUV; AVCOL_SPC_RGB for RGB formats
};

// Settings for a codec at a quality setting (0-5; others are normal) for
// frames of the given size; an Error when the encoder is missing or none of its
// pixel formats fits the size.
Result<EncoderSettings> encoderSettings(const CodecInfo& codec, int quality, int width, int height);

}  // namespace lumivane
