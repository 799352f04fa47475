// JPEG-2000 files for frames too small for OpenImageIO's writer, which asks
// OpenJPEG for six resolution levels and so needs 32 pixels a side.
#pragma once

#include <cstdint>
#include <vector>

#include "base/Result.h"

namespace lumivane {

// The most resolution levels a frame this size takes (one per halving, at
// most OpenJPEG's default of six).
int jpeg2000ResolutionLevels(int width, int height);
// A lossless .jp2 file of 8-bit RGB pixels, rows top first.
Result<std::vector<uint8_t>> encodeJpeg2000(const std::vector<uint8_t>& rgb, int width, int height);

}  // namespace lumivane
