// The images ISF gives its audio inputs, made from a sound at a time t:
// grey float pixels, one row per channel (the first at y = 0), the oldest
// sample or the lowest frequency at x = 0.
//
// audio: the kWaveformSamples samples before t, each value v drawn as
// 0.5 + 0.5 v (silence is mid-grey); MAX keeps the latest MAX of them.
// audioFFT: the magnitudes of a Hann-windowed FFT of the kSpectrumWindow
// samples before t, bins 0 to Nyquist, scaled so that a full-scale sine
// reads 1 at its bin; MAX merges neighbouring bins into MAX, each the
// largest of those it covers. Nothing is smoothed over time: an image
// depends on t alone.
#pragma once

#include <complex>
#include <optional>
#include <vector>

#include "base/Result.h"
#include "platform/engine/AudioSampleSource.h"
#include "platform/engine/TexturePixels.h"

namespace lumivane {

class AudioInputImage {
public:
    static constexpr int kWaveformSamples = 2048;
    static constexpr int kSpectrumWindow = 2048;
    static constexpr int kSpectrumBins = kSpectrumWindow / 2;

    AudioInputImage();

    // `maximum` is the input's MAX, where its header gives one.
    Result<TexturePixels> waveform(AudioSampleSource& source, double time,
                                   std::optional<double> maximum);
    Result<TexturePixels> spectrum(AudioSampleSource& source, double time,
                                   std::optional<double> maximum);

    // The first sample after the window that ends at `time`.
    static int64_t endPosition(double time, int sampleRate);

private:
    Result<void> readBefore(AudioSampleSource& source, double time, int count);
    void transform();

    std::vector<float> m_samples;  // interleaved, as read
    std::vector<float> m_window;
    std::vector<std::complex<double>> m_twiddles;
    std::vector<std::complex<double>> m_bins;
    std::vector<int> m_reversed;
};

}  // namespace lumivane
