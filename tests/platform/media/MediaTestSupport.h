// Helpers for the media tests: test frames, and ffprobe / ffmpeg as
// independent readers of what the writers produce.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/Image.h"
#include "platform/media/CodecInfo.h"

namespace lumivane::test {

// Smooth gradients that move with the frame index (so lossy codecs keep them
// close); alpha is a horizontal ramp when translucent, else opaque.
ImageRGBA8 gradientFrame(int width, int height, int index, bool translucent = false);
ImageRGBAF toFloat(const ImageRGBA8& image);
// Every pixel the one straight-alpha colour.
ImageRGBA8 solidFrame(int width, int height, std::array<uint8_t, 4> rgba);

// An extension whose container takes the codec, QuickTime's where it can.
std::string movieExtensionFor(const CodecInfo& codec);

// ffprobe's view of the first video stream, with nb_read_packets counted.
nlohmann::json probeStream(const std::string& path);
// How far apart the frames are shown, in the stream's time base: the steps
// between the packets' presentation times in display order. (The packets'
// own durations are the demuxer's guess once frames are reordered.)
std::vector<int64_t> presentationSteps(const std::string& path);
// The movie decoded by ffmpeg into RGBA frames at their own size.
std::vector<uint8_t> decodeRGBA(const std::string& path);

// Mean and largest absolute difference of the colour (and optionally alpha)
// channels between expected frames and decoded bytes.
struct Difference {
    double mean = 0;
    int largest = 0;
};
Difference compareRGBA(const std::vector<ImageRGBA8>& expected, const std::vector<uint8_t>& decoded,
                       bool includeAlpha);

}  // namespace lumivane::test
