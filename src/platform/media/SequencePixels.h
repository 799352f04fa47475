// A frame's samples in the layout an image format stores: RGBA with straight
// alpha, RGB over black where there is to be no alpha, linear light with
// associated alpha for OpenEXR.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Image.h"

namespace lumivane {

struct SequencePixels {
    int width = 0;
    int height = 0;
    int channels = 4;
    bool isFloat = false;
    std::vector<uint8_t> bytes;
    std::vector<float> floats;
    // What to hand on: `bytes`, `floats`, or the frame's own bytes when they
    // are stored as they are.
    const void* samples = nullptr;
};

// `opaque`: RGB over black, for formats without alpha or when asked for.
// The frame must outlive the result.
SequencePixels sequencePixels(const std::string& extension, const FrameImage& frame, bool opaque);

// Float samples as 16-bit big-endian integers, clamped to 0..1 (PNG).
std::vector<uint8_t> bigEndian16(const std::vector<float>& samples);
// 8-bit samples, clamped to 0..1 (JPEG-2000 of float frames).
std::vector<uint8_t> eightBit(const SequencePixels& pixels);

}  // namespace lumivane
