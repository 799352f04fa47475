// Where audio inputs hear their sound: decoded float samples by position,
// at the source's rate and channel count. Position 0 sits at composition
// time 0, so the same time always reads the same samples.
#pragma once

#include <cstdint>

#include "base/Result.h"

namespace lumivane {

class AudioSampleSource {
public:
    virtual ~AudioSampleSource() = default;
    virtual int sampleRate() const = 0;
    virtual int channelCount() const = 0;
    // `count` sample frames from position `first` on into `interleaved`
    // (count * channelCount() values, -1..1); positions before 0 or past the
    // end read as 0. Fails when the sound cannot be decoded there.
    virtual Result<void> read(int64_t first, int count, float* interleaved) = 0;
};

}  // namespace lumivane
