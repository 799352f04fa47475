// How a frame output reports what failed.
#pragma once

#include <string>

namespace lumivane {

struct FrameOutputFailure {
    std::string consoleLine;  // the renderer's log line
    std::string detail;       // what the writer said, logged beside it
};

}  // namespace lumivane
