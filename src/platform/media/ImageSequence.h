// Image-sequence output: the five image types, their file extensions and the
// frame-number width.
#pragma once

#include <string>

#include "platform/media/ImageSequenceWriter.h"

namespace lumivane {

// True only for "public.jpeg", "public.jpeg-2000", "public.png",
// "public.tiff" and "com.ilm.openexr-image", compared exactly.
bool isImageSequenceType(const std::string& codec);
// "jpg", "jp2", "png", "tiff", "exr"; empty for anything else.
std::string imageSequenceExtension(const std::string& codec);
// True for the extensions above, compared exactly.
bool isImageSequenceExtension(const std::string& extension);
// Decimal digits of frameCount, computed as float(log10(N)) + 1 truncated;
// 1 for counts of 0 or below.
int sequenceDigitCount(int frameCount);

}  // namespace lumivane
