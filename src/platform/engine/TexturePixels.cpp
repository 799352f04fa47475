#include "platform/engine/TexturePixels.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace lumivane {
namespace {

// Expands 1-4 channels to RGBA and turns the rows over.
template <class T>
std::vector<T> toRGBABottomUp(const std::vector<T>& source, int width, int height, int channels,
                              T opaque) {
    std::vector<T> out(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        const T* row = source.data() + size_t(height - 1 - y) * width * channels;
        T* dst = out.data() + size_t(y) * width * 4;
        for (int x = 0; x < width; ++x, row += channels, dst += 4) {
            const bool grey = channels < 3;
            dst[0] = row[0];
            dst[1] = grey ? row[0] : row[1];
            dst[2] = grey ? row[0] : row[2];
            dst[3] = channels == 2 ? row[1] : channels == 4 ? row[3] : opaque;
        }
    }
    return out;
}

}  // namespace

Result<TexturePixels> loadTexturePixels(const std::string& path) {
    const std::string quoted = describeAt(path, "");
    // A FIFO or a device would block the render or never end; only files are images.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return Error{quoted + "is not a regular file"};
    // Shaders expect straight alpha, which is what PNG and TIFF store.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto input = OIIO::ImageInput::open(path, &config);
    if (!input) return Error{quoted + OIIO::geterror()};
    const OIIO::ImageSpec& spec = input->spec();
    const int width = spec.width, height = spec.height;
    const int channels = std::min(spec.nchannels, 4);
    if (width <= 0 || height <= 0 || channels <= 0) return Error{quoted + "image has no pixels"};
    if (size_t(width) * height > (size_t(1) << 28)) return Error{quoted + "image is too large"};
    TexturePixels pixels;
    pixels.width = width;
    pixels.height = height;
    pixels.isFloat = spec.format.basetype == OIIO::TypeDesc::FLOAT ||
                     spec.format.basetype == OIIO::TypeDesc::HALF ||
                     spec.format.basetype == OIIO::TypeDesc::DOUBLE;
    const size_t count = size_t(width) * height * channels;
    bool ok = false;
    if (pixels.isFloat) {
        std::vector<float> data(count);
        ok = input->read_image(0, 0, 0, channels, OIIO::TypeDesc::FLOAT, data.data());
        if (ok) pixels.floats = toRGBABottomUp<float>(data, width, height, channels, 1.0f);
    } else {
        std::vector<uint8_t> data(count);
        ok = input->read_image(0, 0, 0, channels, OIIO::TypeDesc::UINT8, data.data());
        if (ok) pixels.bytes = toRGBABottomUp<uint8_t>(data, width, height, channels, 255);
    }
    if (!ok) return Error{quoted + input->geterror()};
    return pixels;
}

}  // namespace lumivane
