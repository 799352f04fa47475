// Frames as they leave the GPU: RGBA with straight alpha, rows from the top,
// colour values sRGB-encoded (float frames are not clamped).
#pragma once

#include <cstdint>
#include <variant>
#include <vector>

namespace lumivane {

struct ImageRGBA8 {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width * height * 4
};

struct ImageRGBAF {
    int width = 0;
    int height = 0;
    std::vector<float> pixels;  // width * height * 4
};

using FrameImage = std::variant<ImageRGBA8, ImageRGBAF>;

}  // namespace lumivane
