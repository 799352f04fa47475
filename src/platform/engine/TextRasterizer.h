// Draws the value of a text input: white on transparent, in DejaVu Sans (found
// through fontconfig), as the image the shader samples under the input's name.
#pragma once

#include <string>

#include "base/Result.h"
#include "platform/engine/TexturePixels.h"

namespace lumivane {

class TextRasterizer {
public:
    static constexpr int kFontSize = 64;

    // Empty text gives an empty image. Invalid UTF-8 is drawn as U+FFFD and a
    // character missing from the font as the font's replacement box. Fails
    // when the text cannot be drawn at all (no image module, no font).
    static Result<TexturePixels> rasterize(const std::string& text);
    // The font file, or empty when fontconfig finds none.
    static const std::string& fontFile();
    static std::string sanitizedUtf8(const std::string& text);
};

}  // namespace lumivane
