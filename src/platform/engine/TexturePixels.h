// Pixels on their way into a texture: RGBA, straight alpha, rows from the
// bottom as OpenGL counts them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Result.h"

namespace lumivane {

struct TexturePixels {
    int width = 0;
    int height = 0;
    bool isFloat = false;
    std::vector<uint8_t> bytes;  // width * height * 4 when !isFloat
    std::vector<float> floats;   // width * height * 4 when isFloat

    bool empty() const { return width <= 0 || height <= 0; }
};

// An image file's size at most, and its pixels' size once decoded to RGBA.
constexpr long long kMaxImageFileSize = 1024LL * 1024 * 1024;
constexpr long long kMaxDecodedImageSize = 1024LL * 1024 * 1024;

// The same picture at most maxSide pixels a side, each pixel the average of
// those it covers; a picture that already fits comes back unchanged.
TexturePixels scaledToFit(const TexturePixels& pixels, int maxSide);

// Reads an image file through the image-file module: grey, grey-alpha, RGB
// and RGBA, 8-bit unless the file holds floating-point data. Errors read
// "\"<path>\": ...".
Result<TexturePixels> loadTexturePixels(const std::string& path);

}  // namespace lumivane
