// The movie codecs this build can write: FFmpeg's video encoders that one of
// the movie containers accepts, named by the four-character code QuickTime's
// muxer writes (AVI's where QuickTime has none), with the containers that
// take each.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/media/CodecInfo.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace lumivane {

// One entry per code, sorted by code; computed once.
const std::vector<CodecInfo>& installedCodecs();
std::optional<CodecInfo> codecForFourCC(const std::string& fourcc);
// What the renderer's codec list and the application's codec menu offer for
// a container (by muxer; empty: any movie container, leaving out what only
// GIF or WebP holds): the installed codecs in the same order,
// less the codes both have always left out (yuv2, tga, smc, h261, h263, SVQ1,
// SVQ3, WRLE).
std::vector<CodecInfo> offeredCodecs(const std::string& muxer = "mov");

// The code a movie's stream carries in `format` for a codec named `fourcc`;
// `encoderTag` is the one the encoder chose for its layout, if any.
unsigned movieStreamTag(const AVOutputFormat* format, AVCodecID id, unsigned encoderTag,
                        const std::string& fourcc);

// The level 0-5 a quality setting stands for (anything outside 0-5 is 2, normal).
int qualityLevel(int quality);

}  // namespace lumivane
