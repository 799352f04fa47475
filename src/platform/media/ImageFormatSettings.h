// What the quality level 0-5 chooses for each image format. Lossless formats
// trade encoding time for file size (0 fastest, 5 smallest); JPEG and
// JPEG-2000 trade fidelity for size, and level 5 of JPEG-2000 is lossless.
#pragma once

#include <string>

namespace lumivane {

// `level` as qualityLevel() gives it, 0-5. PNG: zlib's level; the row
// filter is chosen per frame (PngFilter.h).
int pngZlibLevel(int level);
int jpegQuality(int level);
struct Jpeg2000Encoding {
    bool lossless = true;  // the reversible wavelet
    // Lossy only: the most raw bytes per file byte; 0 sets no rate, leaving
    // the irreversible wavelet's own quantization.
    int ratio = 0;
};
Jpeg2000Encoding jpeg2000Encoding(int level);
// OpenImageIO's "Compression" value and TIFF predictor (1 none, 2 horizontal).
struct LibraryCompression {
    std::string compression;
    int tiffPredictor = 0;
};
LibraryCompression tiffCompression(int level);
LibraryCompression exrCompression(int level);

// The setting in words, for the benchmark's table: "up filter, zlib 3".
std::string describeImageSetting(const std::string& extension, int level);

}  // namespace lumivane
