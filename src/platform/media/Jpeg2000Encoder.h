// JPEG-2000 files through FFmpeg's OpenJPEG encoder, at every frame size:
// resolution levels follow the size, as OpenJPEG refuses more levels than a
// small frame has halvings.
#pragma once

#include <cstdint>
#include <vector>

#include "base/Result.h"
#include "platform/media/ImageFormatSettings.h"

namespace lumivane {

// The most resolution levels a frame this size takes (one per halving, at
// most OpenJPEG's default of six).
int jpeg2000ResolutionLevels(int width, int height);
// A .jp2 file of 8-bit RGB pixels, rows top first.
Result<std::vector<uint8_t>> encodeJpeg2000(const std::vector<uint8_t>& rgb, int width, int height,
                                            Jpeg2000Encoding encoding = {});

}  // namespace lumivane
