// Decodes every frame of a movie: the full check of a joined movie, which
// copying packets alone cannot give (a piece damaged inside a frame keeps its
// size). Costs one decode of the whole movie.
#pragma once

#include <cstdint>
#include <string>

#include "base/Result.h"

namespace lumivane {

class MovieVerifier {
public:
    // Fails naming the first frame (from 1, in decoding order) that does not
    // decode, or the count when the movie decodes to other than `frames`.
    static Result<void> decodeAll(const std::string& path, int64_t frames);
};

}  // namespace lumivane
