// Joins the movies of a render split into chunks of frames into the one movie
// a single render would have written, by copying their packets: no frame is
// encoded again. Each piece says which frames it holds (its MovieChunk tag);
// the pieces must hold every frame of the render once and come from the same
// render (their origins) and encoder settings.
#pragma once

#include <string>
#include <vector>

#include "base/Result.h"

namespace lumivane {

class MovieJoiner {
public:
    // Pieces in any order. The output is built beside its final place and
    // moved there once complete, so a refusal or a failure leaves whatever
    // was there untouched. It carries no chunk tag: it is the whole render.
    // Every packet copied is checked against the piece's index; `verify`
    // also decodes every frame of the result before it takes its place.
    static Result<void> join(const std::vector<std::string>& pieces, const std::string& output,
                             bool verify = false);
};

}  // namespace lumivane
