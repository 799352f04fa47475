#include "platform/media/ImageFormatSettings.h"

#include <algorithm>
#include <array>

namespace lumivane {
namespace {

size_t index(int level) {
    return static_cast<size_t>(std::clamp(level, 0, 5));
}

// Measured with bench/image_sequence_bench (README): zlib's levels 1 and 2
// (its fast matcher), then 4 to 6 (lazy matching; 3 was slower than 4 for
// larger files) and 9 for the smallest files at ten times the time.
constexpr std::array<int, 6> kPngZlibLevel = {1, 2, 4, 5, 6, 9};

constexpr std::array<int, 6> kJpegQuality = {30, 50, 70, 85, 95, 100};
// Rendered frames reached the irreversible wavelet's own quantization at
// about 20:1, so higher rates would all give level 4's file.
constexpr std::array<Jpeg2000Encoding, 6> kJpeg2000 = {{
    {false, 64},
    {false, 44},
    {false, 30},
    {false, 20},
    {false, 0},
    {true, 0},
}};

}  // namespace

int pngZlibLevel(int level) {
    return kPngZlibLevel[index(level)];
}

int jpegQuality(int level) {
    return kJpegQuality[index(level)];
}

Jpeg2000Encoding jpeg2000Encoding(int level) {
    return kJpeg2000[index(level)];
}

// Horizontal differencing before LZW or deflate shrinks smooth images a
// lot for little time. LZW took the time of deflate's fastest level for
// smaller files; 4 is what every level wrote before.
LibraryCompression tiffCompression(int level) {
    static const std::array<LibraryCompression, 6> table = {{
        {"none", 1},
        {"lzw", 2},
        {"zip:4", 2},
        {"zip:5", 2},
        {"zip:6", 2},
        {"zip:9", 2},
    }};
    return table[index(level)];
}

// DWAA loses detail, so only the lowest level uses it; the others are
// lossless for the half floats stored (PXR24 rounds 32-bit floats only),
// roughly from fastest to smallest; ZIP, what every level wrote before,
// stays the default. PIZ and ZIP trade places with the picture.
LibraryCompression exrCompression(int level) {
    static const std::array<LibraryCompression, 6> table = {{
        {"dwaa", 0},
        {"none", 0},
        {"rle", 0},
        {"zip", 0},
        {"piz", 0},
        {"pxr24", 0},
    }};
    return table[index(level)];
}

std::string describeImageSetting(const std::string& extension, int level) {
    if (extension == "png") return "filter by frame, zlib " + std::to_string(pngZlibLevel(level));
    if (extension == "jpg") return "quality " + std::to_string(jpegQuality(level));
    if (extension == "jp2") {
        const Jpeg2000Encoding jp2 = jpeg2000Encoding(level);
        if (jp2.lossless) return "lossless";
        return jp2.ratio > 0 ? "9/7 wavelet, " + std::to_string(jp2.ratio) + ":1"
                             : std::string("9/7 wavelet, no rate");
    }
    const LibraryCompression library =
        extension == "tiff" ? tiffCompression(level) : exrCompression(level);
    std::string text = library.compression;
    if (library.tiffPredictor == 2) text += " + predictor";
    return text;
}

}  // namespace lumivane
