// Frames as they leave the GPU: RGBA with straight alpha, rows from the top,
// colour values sRGB-encoded (float frames are not clamped), or already in a
// movie encoder's YUV layout.
#pragma once

#include <cstddef>
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

// A planar YUV layout as the encoders take it: chroma subsampled 2^chromaShiftX
// across and 2^chromaShiftY down, samples of `bits` bits (one byte each at 8,
// else a little-endian 16-bit word), BT.709 or another matrix by its luma
// weights, limited ("video") or full range.
struct YuvLayout {
    int chromaShiftX = 1;
    int chromaShiftY = 1;
    int bits = 8;
    bool fullRange = false;
    float kr = 0.2126f;
    float kb = 0.0722f;
    bool operator==(const YuvLayout&) const = default;
};

// A frame converted on the GPU: the Y, U and V planes back to back, each with
// its rows packed (no padding), rows from the top.
struct ImageYuv {
    int width = 0;
    int height = 0;
    YuvLayout layout;
    std::vector<uint8_t> pixels;

    int sampleBytes() const { return layout.bits > 8 ? 2 : 1; }
    int planeWidth(int plane) const {
        return plane == 0 ? width : (width + (1 << layout.chromaShiftX) - 1) >> layout.chromaShiftX;
    }
    int planeHeight(int plane) const {
        return plane == 0 ? height
                          : (height + (1 << layout.chromaShiftY) - 1) >> layout.chromaShiftY;
    }
    size_t planeBytes(int plane) const {
        return size_t(planeWidth(plane)) * size_t(planeHeight(plane)) * size_t(sampleBytes());
    }
    size_t planeOffset(int plane) const {
        return plane == 0 ? 0 : planeBytes(0) + size_t(plane - 1) * planeBytes(1);
    }
    size_t byteCount() const { return planeOffset(3); }
};

using FrameImage = std::variant<ImageRGBA8, ImageRGBAF, ImageYuv>;

}  // namespace lumivane
