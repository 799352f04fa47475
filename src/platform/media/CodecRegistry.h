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
// What the renderer's codec list and the application's codec menu offer: the
// installed codecs in the same order, less the codes both have always left out
// (yuv2, tga, smc, h261, h263, SVQ1, SVQ3, WRLE).
std::vector<CodecInfo> offeredCodecs();

// The level 0-5 a quality setting stands for (anything outside 0-5 is 2, normal).
int qualityLevel(int quality);

}  // namespace lumivane
