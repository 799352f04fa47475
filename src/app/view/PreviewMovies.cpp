#include "app/view/PreviewMovies.h"

#include <algorithm>

#include "base/Log.h"
#include "platform/engine/CompositionRenderer.h"

using namespace lumivane;

namespace {

Result<std::unique_ptr<MovieFrameSource>> openMovie(const std::string& path, int maxSide) {
    MovieSourceOptions options;
    options.maxSide = maxSide;
    return MovieFrameSource::open(path, options, false);
}

}  // namespace

bool PreviewMovies::isMovie(const std::string& path) {
    return !path.empty() && MovieFrameSource::looksLikeMovie(path);
}

std::vector<PreviewMovies::Movie>::iterator PreviewMovies::find(const std::string& key) {
    return std::find_if(m_movies.begin(), m_movies.end(),
                        [&](const Movie& movie) { return movie.key == key; });
}

Result<void> PreviewMovies::take(const std::string& key, const std::string& path, int maxSide) {
    auto source = openMovie(path, maxSide);
    if (!source) return Error{source.error()};
    remove(key);
    m_movies.push_back({key, path, maxSide, std::move(*source)});
    return {};
}

bool PreviewMovies::remove(const std::string& key) {
    auto it = find(key);
    if (it == m_movies.end()) return false;
    m_movies.erase(it);
    return true;
}

std::optional<std::string> PreviewMovies::pathFor(const std::string& key) const {
    for (const Movie& movie : m_movies)
        if (movie.key == key) return movie.path;
    return std::nullopt;
}

void PreviewMovies::addPaths(PlistDict& values) const {
    for (const Movie& movie : m_movies) values.set(movie.key, PlistValue(movie.path));
}

void PreviewMovies::restart() {
    for (Movie& movie : m_movies) {
        movie.source.reset();
        auto source = openMovie(movie.path, movie.maxSide);
        if (source) {
            movie.source = std::move(*source);
        } else {
            logLine(source.error());
        }
    }
}

void PreviewMovies::showAt(CompositionRenderer& renderer, double time) {
    for (Movie& movie : m_movies) {
        if (!movie.source) continue;
        MovieFrame frame;
        auto changed = movie.source->frameAt(time, frame);
        if (!changed) {
            // A movie that breaks while playing stops at the frame it showed.
            logLine(changed.error());
            movie.source.reset();
            continue;
        }
        if (!*changed) continue;
        TexturePixels pixels;
        pixels.width = frame.width;
        pixels.height = frame.height;
        pixels.bytes = std::move(frame.rgba);
        renderer.setImagePixels(movie.key, std::move(pixels));
    }
}
