// A composition's audio and audioFFT inputs, fed from the render's
// soundtrack: each render hears it at its own time.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/Result.h"
#include "platform/engine/Composition.h"
#include "platform/engine/OffscreenRenderer.h"
#include "shared/SoundtrackSamples.h"

namespace lumivane {

class AudioInputs {
public:
    // Opens the soundtrack for the renderer's audio inputs, if it has any;
    // without a soundtrack they hear silence, which -v mentions. Fails with
    // "<file>": why.
    Result<void> feed(OffscreenRenderer& renderer, const Composition& composition,
                      const std::optional<std::string>& soundtrack);
    // The soundtrack broke mid-render: where, and why.
    std::optional<std::string> problem() const;

private:
    std::shared_ptr<SoundtrackSamples> m_samples;
};

}  // namespace lumivane
