#include "cli/MovieInputs.h"

#include <algorithm>

namespace lumivane {
namespace {

// Deep sources are worth their precision only where the passes keep it.
bool keepsDepth(const OffscreenRenderer& renderer, const Composition& composition) {
    const auto& passes = composition.passes();
    return renderer.format() == TargetFormat::RGBAFloat ||
           std::any_of(passes.begin(), passes.end(),
                       [](const CompositionPass& pass) { return pass.floatTarget; });
}

}  // namespace

Result<bool> MovieInputs::take(const std::string& input, const std::string& path,
                               const PlistDict& values, const OffscreenRenderer& renderer,
                               const Composition& composition) {
    if (!MovieFrameSource::looksLikeMovie(path)) return false;
    MovieSourceOptions options;
    options.maxSide = renderer.maxTextureSize();
    options.keepDepth = keepsDepth(renderer, composition);
    if (const PlistValue* rate = values.find(input + ".rate")) {
        options.sequenceRate = rate->doubleValue();
        if (!(options.sequenceRate > 0))
            return Error{input + ".rate=" + rate->stringValue() + ": a frame rate is above 0"};
    }
    const PlistValue* loop = values.find(input + ".loop");
    auto source = MovieFrameSource::open(path, options, loop && loop->boolValue());
    if (!source) return Error{source.error()};
    m_movies.push_back({input, std::move(source.value())});
    return true;
}

Result<void> MovieInputs::showAt(OffscreenRenderer& renderer, double time) {
    for (Movie& movie : m_movies) {
        MovieFrame frame;
        auto changed = movie.source->frameAt(time, frame);
        if (!changed) return Error{changed.error()};
        if (!*changed) continue;
        TexturePixels pixels;
        pixels.width = frame.width;
        pixels.height = frame.height;
        pixels.isFloat = frame.isFloat();
        pixels.bytes = std::move(frame.rgba);
        pixels.floats = std::move(frame.rgbaFloat);
        renderer.setImagePixels(movie.input, std::move(pixels));
    }
    return {};
}

}  // namespace lumivane
