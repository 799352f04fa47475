// One movie codec of the registry.
#pragma once

#include <string>

namespace lumivane {

struct CodecInfo {
    std::string fourcc;  // as written in the movie's sample description, e.g. "avc1", "png "
    std::string name;    // the encoder's long name, with the ProRes profile where there are several
    std::string encoder;  // FFmpeg encoder name, e.g. "libx264"
};

}  // namespace lumivane
