// Image inputs given a movie or an image sequence: before each render, each
// shows the frame of its source at the composition's time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/PlistValue.h"
#include "base/Result.h"
#include "platform/engine/Composition.h"
#include "platform/engine/OffscreenRenderer.h"
#include "platform/media/MovieFrameSource.h"

namespace lumivane {

class MovieInputs {
public:
    // Takes `path` when it is a movie or a sequence pattern: nothing if it is
    // not, so that it is read as a picture; a movie that cannot be played is
    // an error. `values` may hold "<input>.loop" and "<input>.rate".
    Result<bool> take(const std::string& input, const std::string& path, const PlistDict& values,
                      const OffscreenRenderer& renderer, const Composition& composition);
    Result<void> showAt(OffscreenRenderer& renderer, double time);
    bool empty() const { return m_movies.empty(); }

private:
    struct Movie {
        std::string input;
        std::unique_ptr<MovieFrameSource> source;
    };
    std::vector<Movie> m_movies;
};

}  // namespace lumivane
