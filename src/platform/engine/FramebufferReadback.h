// Reads the bound read framebuffer's RGBA pixels into an image of 8-bit or
// float samples, rows from the bottom as GL keeps them.
#pragma once

#include <cstdint>
#include <type_traits>

#include "base/Image.h"
#include "platform/engine/GLObjects.h"

namespace lumivane {

template <class Image>
Image readFramebufferImage(int width, int height) {
    using Sample = typename decltype(Image::pixels)::value_type;
    static_assert(std::is_same_v<Sample, uint8_t> || std::is_same_v<Sample, float>);
    Image image;
    image.width = width;
    image.height = height;
    image.pixels.resize(size_t(width) * height * 4);
    // RGBA rows are whole words in either sample type; no padding to skip.
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA,
                 std::is_same_v<Sample, float> ? GL_FLOAT : GL_UNSIGNED_BYTE, image.pixels.data());
    return image;
}

}  // namespace lumivane
