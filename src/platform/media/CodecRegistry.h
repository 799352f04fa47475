// The movie codecs this build can write: FFmpeg's video encoders that the
// QuickTime muxer accepts, named by the four-character code the muxer writes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/media/CodecInfo.h"

namespace lumivane {

// One entry per code, sorted by code; computed once.
const std::vector<CodecInfo>& installedCodecs();
std::optional<CodecInfo> codecForFourCC(const std::string& fourcc);

// The QuickTime codec quality for a quality setting: 0, 256, 512, 768, 1023,
// 1024 for 0-5, 512 (normal) for anything else.
int quickTimeQuality(int quality);
// The level 0-5 a quality setting stands for (anything outside 0-5 is 2, normal).
int qualityLevel(int quality);

}  // namespace lumivane
