// A soundtrack file as the sound that a composition's audio inputs hear.
// The renderer and the application's preview both feed their engines
// through it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "platform/engine/AudioSampleSource.h"
#include "platform/media/SoundtrackReader.h"

namespace lumivane {

class SoundtrackSamples : public AudioSampleSource {
public:
    // Fails with "<file>": why, as SoundtrackReader::open does.
    static Result<std::shared_ptr<SoundtrackSamples>> open(const std::string& path);

    int sampleRate() const override { return m_reader->sampleRate(); }
    int channelCount() const override { return m_reader->channels(); }
    Result<void> read(int64_t first, int count, float* interleaved) override;

    const std::string& path() const { return m_reader->path(); }
    // The first read that failed, with the time it failed at; the engine
    // draws silence for it, so its owner decides whether to go on.
    const std::optional<std::string>& problem() const { return m_problem; }

private:
    explicit SoundtrackSamples(std::unique_ptr<SoundtrackReader> reader)
        : m_reader(std::move(reader)) {}

    std::unique_ptr<SoundtrackReader> m_reader;
    std::vector<float> m_scratch;
    std::optional<std::string> m_problem;
};

}  // namespace lumivane
