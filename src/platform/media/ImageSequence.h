// Image-sequence output: the five image types, their file extensions and the
// frame-number width.
#pragma once

#include <optional>
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

// A file a sequence directory holds: a frame "Image-<number>.<extension>" or
// a frame being written, ".Image-<number>.partial-<writer>.<extension>".
struct SequenceFileName {
    bool partial = false;
    std::string number;  // decimal digits as the name spells them
    std::string writer;  // partial files only: the writer's process id, digits
    std::string extension;
};
// Nothing for any other name, or an extension that is no image type's.
std::optional<SequenceFileName> parseSequenceFileName(const std::string& name);

}  // namespace lumivane
