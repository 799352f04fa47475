#include "platform/engine/TextRasterizer.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <memory>

#include "platform/imagefiles/ImageFileLibrary.h"

namespace lumivane {
namespace {

struct FcPatternDeleter {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
using FcPatternUPtr = std::unique_ptr<FcPattern, FcPatternDeleter>;

std::string findFont() {
    if (!FcInit()) return {};
    FcPatternUPtr pattern(FcNameParse(reinterpret_cast<const FcChar8*>("DejaVu Sans")));
    if (!pattern) return {};
    FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    FcPatternUPtr match(FcFontMatch(nullptr, pattern.get(), &result));
    FcChar8* file = nullptr;
    if (!match || FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch || !file) {
        return {};
    }
    return reinterpret_cast<const char*>(file);
}

// Length of the UTF-8 sequence at text[i], or 0 when it is malformed.
size_t sequenceLength(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = lead < 0x80           ? 1
                    : (lead >> 5) == 0x6  ? 2
                    : (lead >> 4) == 0xE  ? 3
                    : (lead >> 3) == 0x1E ? 4
                                          : 0;
    if (length == 0 || i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    }
    if (length == 2 && lead < 0xC2) return 0;  // overlong
    if (length == 3 && lead == 0xE0 && byte(i + 1) < 0xA0) return 0;
    if (length == 3 && lead == 0xED && byte(i + 1) >= 0xA0) return 0;  // surrogates
    if (length == 4 && (lead > 0xF4 || (lead == 0xF0 && byte(i + 1) < 0x90) ||
                        (lead == 0xF4 && byte(i + 1) >= 0x90))) {
        return 0;
    }
    return length;
}

}  // namespace

const std::string& TextRasterizer::fontFile() {
    static const std::string file = findFont();
    return file;
}

std::string TextRasterizer::sanitizedUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = sequenceLength(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(text[i]);
        // Control characters other than line feeds have no glyph to draw.
        out += (length == 1 && c < 0x20 && c != '\n') ? std::string(" ") : text.substr(i, length);
        i += length;
    }
    return out;
}

Result<TexturePixels> TextRasterizer::rasterize(const std::string& text) {
    const std::string clean = sanitizedUtf8(text);
    TexturePixels pixels;
    if (clean.find_first_not_of(" \n") == std::string::npos) return pixels;
    // Coverage is drawn into one channel; colour is white throughout.
    auto coverage = ImageFileLibrary::drawText(clean, kFontSize, fontFile(), kFontSize / 8, 8192);
    if (!coverage) return Error{coverage.error()};
    const int width = coverage->width;
    const int height = coverage->height;
    pixels.width = width;
    pixels.height = height;
    pixels.bytes.assign(size_t(width) * height * 4, 255);
    const std::vector<uint8_t>& alpha = coverage->alpha;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = alpha.data() + size_t(height - 1 - y) * width;
        uint8_t* dst = pixels.bytes.data() + size_t(y) * width * 4;
        for (int x = 0; x < width; ++x) dst[x * 4 + 3] = row[x];
    }
    return pixels;
}

}  // namespace lumivane
