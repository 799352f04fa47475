// The movies (and image sequences) a preview plays in its image inputs: each
// shows, before a render, its frame at the composition's time, as the
// renderer's frames will.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/PlistValue.h"
#include "base/Result.h"
#include "platform/media/MovieFrameSource.h"

namespace lumivane {
class CompositionRenderer;
}

class PreviewMovies {
public:
    // Whether `path` is a movie or sequence rather than a picture.
    static bool isMovie(const std::string& path);

    // `key` plays `path` from now on; on failure it keeps what it had.
    lumivane::Result<void> take(const std::string& key, const std::string& path, int maxSide);
    // Whether `key` played a movie before.
    bool remove(const std::string& key);
    void clear() { m_movies.clear(); }
    std::optional<std::string> pathFor(const std::string& key) const;
    // The movies' paths over `values`, as the renderer is to be given them.
    void addPaths(lumivane::PlistDict& values) const;
    // A new renderer has none of the frames: each movie opens again, so
    // that its next frame goes to it.
    void restart();
    void showAt(lumivane::CompositionRenderer& renderer, double time);

private:
    struct Movie {
        std::string key;
        std::string path;
        int maxSide = 0;
        std::unique_ptr<lumivane::MovieFrameSource> source;
    };
    std::vector<Movie>::iterator find(const std::string& key);

    std::vector<Movie> m_movies;
};
