#include "cli/AudioInputs.h"

#include "base/Log.h"
#include "cli/RendererState.h"

namespace lumivane {

Result<void> AudioInputs::feed(OffscreenRenderer& renderer, const Composition& composition,
                               const std::optional<std::string>& soundtrack) {
    std::string names;
    for (const CompositionInput& input : composition.inputs()) {
        if (input.type != InputType::Audio && input.type != InputType::AudioFFT) continue;
        names += (names.empty() ? "\"" : ", \"") + input.name + "\"";
    }
    if (names.empty()) return {};
    if (!soundtrack) {
        if (verbosityLevel() != 0)
            nsLog("No soundtrack: audio inputs %s hear silence (--audio FILE gives them one)",
                  names.c_str());
        return {};
    }
    auto samples = SoundtrackSamples::open(*soundtrack);
    if (!samples) return Error{samples.error()};
    m_samples = samples.value();
    renderer.setAudioSource(m_samples);
    return {};
}

std::optional<std::string> AudioInputs::problem() const {
    if (!m_samples) return std::nullopt;
    return m_samples->problem();
}

}  // namespace lumivane
