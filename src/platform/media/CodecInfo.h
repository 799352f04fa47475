// One movie codec of the registry.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace lumivane {

struct CodecInfo {
    std::string fourcc;  // as written in the movie's sample description, e.g. "avc1", "png "
    std::string name;    // the encoder's long name, with the ProRes profile where there are several
    std::string encoder;                  // FFmpeg encoder name, e.g. "libx264"
    std::vector<std::string> containers;  // the muxers that hold it, e.g. "mov", "webm"

    bool takes(const std::string& muxer) const {
        return std::find(containers.begin(), containers.end(), muxer) != containers.end();
    }
};

}  // namespace lumivane
