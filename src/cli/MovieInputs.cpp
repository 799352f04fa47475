#include "cli/MovieInputs.h"

namespace lumivane {

Result<bool> MovieInputs::take(const std::string& input, const std::string& path) {
    if (!MovieFrameSource::looksLikeMovie(path)) return false;
    auto source = MovieFrameSource::open(path);
    if (!source) return Error{source.error()};
    m_movies.push_back({input, std::move(source.value())});
    return true;
}

Result<void> MovieInputs::showAt(OffscreenRenderer& renderer, double time) {
    for (Movie& movie : m_movies) {
        bool changed = false;
        auto frame = movie.source->frameAt(time, changed);
        if (!frame) return Error{frame.error()};
        if (!changed) continue;
        TexturePixels pixels;
        pixels.width = frame.value()->width;
        pixels.height = frame.value()->height;
        pixels.bytes = frame.value()->rgba;
        renderer.setImagePixels(movie.input, std::move(pixels));
    }
    return {};
}

}  // namespace lumivane
