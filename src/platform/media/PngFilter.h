// The PNG row filter for a whole frame. Rendered frames compress best with
// the same cheap filter on every row, which one depends on the picture
// (sub for horizontal gradients, up for vertical structure), and the
// per-row choice that libpng and FFmpeg's "mixed" make gave larger files,
// slower, on our renders (README, image sequences).
#pragma once

#include <cstdint>

namespace lumivane {

// "none", "sub" or "up", as FFmpeg's PNG encoder names them: the one whose
// residuals, read as signed bytes, sum smallest over a sample of rows.
const char* choosePngFilter(const uint8_t* samples, int width, int height, int bytesPerPixel);

}  // namespace lumivane
