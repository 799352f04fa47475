#include "platform/engine/TexturePixels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "base/BoundedFile.h"
#include "platform/imagefiles/ImageFileLibrary.h"

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

// Box filter: destination pixel (x, y) averages the source block it covers.
template <class T>
std::vector<T> boxScaled(const std::vector<T>& source, int width, int height, int toWidth,
                         int toHeight) {
    std::vector<T> out(size_t(toWidth) * toHeight * 4);
    std::vector<double> sum(4);
    for (int y = 0; y < toHeight; ++y) {
        const int y0 = int(int64_t(y) * height / toHeight);
        const int y1 = std::max(y0 + 1, int(int64_t(y + 1) * height / toHeight));
        for (int x = 0; x < toWidth; ++x) {
            const int x0 = int(int64_t(x) * width / toWidth);
            const int x1 = std::max(x0 + 1, int(int64_t(x + 1) * width / toWidth));
            std::fill(sum.begin(), sum.end(), 0.0);
            for (int sy = y0; sy < y1; ++sy) {
                const T* row = source.data() + (size_t(sy) * width + x0) * 4;
                for (int sx = x0; sx < x1; ++sx, row += 4)
                    for (int c = 0; c < 4; ++c) sum[size_t(c)] += row[c];
            }
            const double count = double(y1 - y0) * (x1 - x0);
            T* dst = out.data() + (size_t(y) * toWidth + x) * 4;
            for (int c = 0; c < 4; ++c) {
                const double mean = sum[size_t(c)] / count;
                dst[c] = std::is_integral_v<T> ? T(mean + 0.5) : T(mean);
            }
        }
    }
    return out;
}

}  // namespace

TexturePixels scaledToFit(const TexturePixels& pixels, int maxSide) {
    if (pixels.empty() || maxSide <= 0 || (pixels.width <= maxSide && pixels.height <= maxSide))
        return pixels;
    const double scale = double(maxSide) / std::max(pixels.width, pixels.height);
    TexturePixels scaled;
    scaled.width = std::clamp(int(std::lround(pixels.width * scale)), 1, maxSide);
    scaled.height = std::clamp(int(std::lround(pixels.height * scale)), 1, maxSide);
    scaled.isFloat = pixels.isFloat;
    if (pixels.isFloat) {
        scaled.floats =
            boxScaled(pixels.floats, pixels.width, pixels.height, scaled.width, scaled.height);
    } else {
        scaled.bytes =
            boxScaled(pixels.bytes, pixels.width, pixels.height, scaled.width, scaled.height);
    }
    return scaled;
}

Result<TexturePixels> loadTexturePixels(const std::string& path) {
    const std::string quoted = describeAt(path, "");
    // A FIFO or a device would block the render or never end; only files are images.
    auto file = openBoundedFile(path, kMaxImageFileSize);
    if (!file) return Error{file.error()};
    struct stat info {};
    // A decoder would call it a damaged file of its kind, which says less.
    if (::fstat(file->get(), &info) == 0 && info.st_size == 0) return errorAt(path, "is empty");
    // A few bytes of header can claim any size; refuse before allocating.
    const auto accept = [](const imagefiles::ImageHeader& header, std::string& why) {
        if (header.width <= 0 || header.height <= 0 || header.channels <= 0) {
            why = "image has no pixels";
            return false;
        }
        const long long decoded =
            (long long)header.width * header.height * 4 * (header.isFloat ? 4 : 1);
        if (decoded <= kMaxDecodedImageSize) return true;
        why = "image of " + std::to_string(header.width) + " x " + std::to_string(header.height) +
              " would decode to more than " + sizeText(kMaxDecodedImageSize);
        return false;
    };
    auto image = ImageFileLibrary::read(path, accept);
    if (!image) return Error{quoted + image.error()};
    const imagefiles::ImageHeader& header = image->header;
    TexturePixels pixels;
    pixels.width = header.width;
    pixels.height = header.height;
    pixels.isFloat = header.isFloat;
    if (pixels.isFloat) {
        pixels.floats = toRGBABottomUp<float>(image->floats, header.width, header.height,
                                              header.channels, 1.0f);
    } else {
        pixels.bytes = toRGBABottomUp<uint8_t>(image->bytes, header.width, header.height,
                                               header.channels, 255);
    }
    return pixels;
}

}  // namespace lumivane
