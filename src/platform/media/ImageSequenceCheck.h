// Whether the chunks of a split render left a whole image sequence in their
// shared directory: every frame file named as ImageSequenceWriter names it,
// no frame written half, nothing beyond the render's frames.
#pragma once

#include <string>

#include "base/Result.h"

namespace lumivane {

class ImageSequenceCheck {
public:
    // Fails with everything wrong at once: the missing frames as ranges
    // ("frames 121-180 are missing"), the partial files left over, files
    // numbered beyond `frameCount`, frames in more than one format.
    static Result<void> check(const std::string& directory, int frameCount);
};

}  // namespace lumivane
