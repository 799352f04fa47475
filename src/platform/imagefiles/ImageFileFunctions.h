// What the image-file module and the programs that load it hand each other.
// Both sides are built from the same tree with the same compiler, so C++ types
// cross freely; the version turns away a module left from another build.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumivane::imagefiles {

constexpr int kAbiVersion = 2;
constexpr const char* kEntryPoint = "lumivane_imagefiles";

enum class SampleType { UInt8, UInt16, Half, Float };

struct ImageHeader {
    int width = 0;
    int height = 0;
    int channels = 0;  // at most 4: the first channels of the file
    bool isFloat = false;
};

// Interleaved samples, rows top first: bytes unless the header says float.
struct DecodedImage {
    ImageHeader header;
    std::vector<uint8_t> bytes;
    std::vector<float> floats;
};

// Whether to decode an image of this header; `why` says why not.
using AcceptHeader = std::function<bool(const ImageHeader&, std::string& why)>;

struct ImageToWrite {
    int width = 0;
    int height = 0;
    int channels = 0;
    SampleType given = SampleType::UInt8;  // UInt8 or Float, rows top first
    const void* samples = nullptr;
    SampleType stored = SampleType::UInt8;
    bool linear = false;  // else sRGB
    bool straightAlpha = false;
    // OpenImageIO's "Compression" ("jpeg:85", "zip:6", "piz"); empty: the
    // format's default. TIFF's predictor: 0 the default, 1 none, 2 horizontal.
    std::string compression;
    int tiffPredictor = 0;
};

// Coverage of drawn text, one byte a pixel, rows top first.
struct TextCoverage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> alpha;
};

// Each returns false with `error` set when it fails.
struct Functions {
    int abiVersion;
    bool (*read)(const std::string& path, const AcceptHeader& accept, DecodedImage& image,
                 std::string& error);
    bool (*write)(const std::string& path, const ImageToWrite& image, std::string& error);
    // Draws `utf8` at `margin` pixels from each edge of a canvas at most
    // maxSide a side.
    bool (*drawText)(const std::string& utf8, int fontSize, const std::string& fontFile, int margin,
                     int maxSide, TextCoverage& coverage, std::string& error);
};

using EntryPoint = const Functions* (*)();

}  // namespace lumivane::imagefiles
