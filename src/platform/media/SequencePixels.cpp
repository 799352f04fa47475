#include "platform/media/SequencePixels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <type_traits>

namespace lumivane {
namespace {

float srgbToLinear(float value) {
    const float magnitude = std::fabs(value);
    const float linear =
        magnitude <= 0.04045f ? magnitude / 12.92f : std::pow((magnitude + 0.055f) / 1.055f, 2.4f);
    return std::copysign(linear, value);
}

const std::array<float, 256>& srgbTable() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> values{};
        for (int i = 0; i < 256; ++i) values[i] = srgbToLinear(i / 255.0f);
        return values;
    }();
    return table;
}

template <class T>
std::vector<T> overBlack(const std::vector<T>& rgba, float alphaUnit) {
    std::vector<T> rgb(rgba.size() / 4 * 3);
    for (size_t i = 0, o = 0; i < rgba.size(); i += 4, o += 3) {
        const float a = std::clamp(static_cast<float>(rgba[i + 3]) / alphaUnit, 0.0f, 1.0f);
        for (int c = 0; c < 3; ++c) {
            const float v = static_cast<float>(rgba[i + c]) * a;
            rgb[o + c] = std::is_integral_v<T> ? static_cast<T>(v + 0.5f) : static_cast<T>(v);
        }
    }
    return rgb;
}

// Associated alpha in linear light is already the colour over black; an
// opaque file keeps only that.
std::vector<float> linearAssociated(const FrameImage& frame, bool opaque) {
    const int channels = opaque ? 3 : 4;
    auto convert = [&](const auto& pixels, float unit, auto toLinear) {
        std::vector<float> out(pixels.size() / 4 * size_t(channels));
        for (size_t i = 0, o = 0; i < pixels.size(); i += 4, o += size_t(channels)) {
            const float a = static_cast<float>(pixels[i + 3]) / unit;
            for (int c = 0; c < 3; ++c) out[o + c] = toLinear(pixels[i + c]) * a;
            if (!opaque) out[o + 3] = a;
        }
        return out;
    };
    if (const auto* rgba8 = std::get_if<ImageRGBA8>(&frame)) {
        const auto& table = srgbTable();
        return convert(rgba8->pixels, 255.0f, [&](uint8_t v) { return table[v]; });
    }
    return convert(std::get<ImageRGBAF>(frame).pixels, 1.0f, srgbToLinear);
}

}  // namespace

SequencePixels sequencePixels(const std::string& extension, const FrameImage& frame, bool opaque) {
    SequencePixels pixels;
    std::visit(
        [&](const auto& image) {
            pixels.width = image.width;
            pixels.height = image.height;
        },
        frame);
    opaque = opaque || extension == "jpg" || extension == "jp2";
    pixels.channels = opaque ? 3 : 4;
    if (extension == "exr") {
        pixels.floats = linearAssociated(frame, opaque);
        pixels.isFloat = true;
    } else if (const auto* rgba8 = std::get_if<ImageRGBA8>(&frame)) {
        if (!opaque) {
            pixels.samples = rgba8->pixels.data();
            return pixels;
        }
        pixels.bytes = overBlack(rgba8->pixels, 255.0f);
    } else {
        const auto& rgbaf = std::get<ImageRGBAF>(frame);
        pixels.floats = opaque ? overBlack(rgbaf.pixels, 1.0f) : rgbaf.pixels;
        pixels.isFloat = true;
    }
    pixels.samples = pixels.isFloat ? static_cast<const void*>(pixels.floats.data())
                                    : static_cast<const void*>(pixels.bytes.data());
    return pixels;
}

std::vector<uint8_t> bigEndian16(const std::vector<float>& samples) {
    std::vector<uint8_t> out(samples.size() * 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        const auto value =
            static_cast<uint16_t>(std::clamp(samples[i], 0.0f, 1.0f) * 65535.0f + 0.5f);
        out[2 * i] = static_cast<uint8_t>(value >> 8);
        out[2 * i + 1] = static_cast<uint8_t>(value & 0xff);
    }
    return out;
}

std::vector<uint8_t> eightBit(const SequencePixels& pixels) {
    if (!pixels.isFloat) {
        const auto* bytes = static_cast<const uint8_t*>(pixels.samples);
        return std::vector<uint8_t>(
            bytes, bytes + size_t(pixels.width) * size_t(pixels.height) * size_t(pixels.channels));
    }
    std::vector<uint8_t> bytes(pixels.floats.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(std::clamp(pixels.floats[i], 0.0f, 1.0f) * 255.0f + 0.5f);
    }
    return bytes;
}

}  // namespace lumivane
