#include "platform/engine/AudioInputImage.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace lumivane {
namespace {

// Where the header's MAX is below what the host gives, the image shrinks to it.
int capped(int full, std::optional<double> maximum) {
    if (!maximum || !std::isfinite(*maximum)) return full;
    return int(std::clamp(std::floor(*maximum), 1.0, double(full)));
}

TexturePixels greyImage(int width, int height) {
    TexturePixels pixels;
    pixels.width = width;
    pixels.height = height;
    pixels.isFloat = true;
    pixels.floats.assign(size_t(width) * size_t(height) * 4, 1.0f);
    return pixels;
}

void setGrey(TexturePixels& pixels, int x, int y, float value) {
    float* p = &pixels.floats[(size_t(y) * size_t(pixels.width) + size_t(x)) * 4];
    p[0] = p[1] = p[2] = value;
}

}  // namespace

AudioInputImage::AudioInputImage() {
    const int n = kSpectrumWindow;
    m_window.resize(size_t(n));
    for (int i = 0; i < n; ++i)
        m_window[size_t(i)] = float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / n));
    m_twiddles.resize(size_t(n / 2));
    for (int k = 0; k < n / 2; ++k)
        m_twiddles[size_t(k)] = std::polar(1.0, -2 * std::numbers::pi * k / n);
    int bits = 0;
    while ((1 << bits) < n) ++bits;
    m_reversed.resize(size_t(n));
    for (int i = 0; i < n; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
        m_reversed[size_t(i)] = r;
    }
    m_bins.resize(size_t(n));
}

int64_t AudioInputImage::endPosition(double time, int sampleRate) {
    // Frame times are fractions like 1/30: rounding keeps a frame's sample
    // boundary where the frame starts rather than one sample early.
    return std::llround(time * sampleRate);
}

Result<void> AudioInputImage::readBefore(AudioSampleSource& source, double time, int count) {
    const int channels = std::max(source.channelCount(), 1);
    m_samples.resize(size_t(count) * size_t(channels));
    const int64_t end = endPosition(time, source.sampleRate());
    return source.read(end - count, count, m_samples.data());
}

Result<TexturePixels> AudioInputImage::waveform(AudioSampleSource& source, double time,
                                                std::optional<double> maximum) {
    const int width = capped(kWaveformSamples, maximum);
    if (auto read = readBefore(source, time, width); !read) return Error{read.error()};
    const int channels = std::max(source.channelCount(), 1);
    TexturePixels pixels = greyImage(width, channels);
    for (int c = 0; c < channels; ++c) {
        for (int x = 0; x < width; ++x) {
            const float v = m_samples[size_t(x) * size_t(channels) + size_t(c)];
            setGrey(pixels, x, c, 0.5f + 0.5f * v);
        }
    }
    return pixels;
}

// In-place radix-2 FFT of m_bins.
void AudioInputImage::transform() {
    const size_t n = m_bins.size();
    for (size_t i = 0; i < n; ++i) {
        const size_t r = size_t(m_reversed[i]);
        if (i < r) std::swap(m_bins[i], m_bins[r]);
    }
    for (size_t half = 1; half < n; half *= 2) {
        const size_t stride = n / (2 * half);
        for (size_t start = 0; start < n; start += 2 * half) {
            for (size_t k = 0; k < half; ++k) {
                const std::complex<double> odd = m_twiddles[k * stride] * m_bins[start + k + half];
                m_bins[start + k + half] = m_bins[start + k] - odd;
                m_bins[start + k] += odd;
            }
        }
    }
}

Result<TexturePixels> AudioInputImage::spectrum(AudioSampleSource& source, double time,
                                                std::optional<double> maximum) {
    const int n = kSpectrumWindow;
    if (auto read = readBefore(source, time, n); !read) return Error{read.error()};
    const int channels = std::max(source.channelCount(), 1);
    const int width = capped(kSpectrumBins, maximum);
    TexturePixels pixels = greyImage(width, channels);
    // The Hann window's sum is n / 2; a sine of amplitude a puts a n / 4 in its bin.
    const double scale = 4.0 / n;
    for (int c = 0; c < channels; ++c) {
        for (int i = 0; i < n; ++i) {
            const float v = m_samples[size_t(i) * size_t(channels) + size_t(c)];
            m_bins[size_t(i)] = {double(v * m_window[size_t(i)]), 0.0};
        }
        transform();
        for (int x = 0; x < width; ++x) {
            const int from = int(int64_t(x) * kSpectrumBins / width);
            const int to = std::max(from + 1, int(int64_t(x + 1) * kSpectrumBins / width));
            double largest = 0;
            for (int k = from; k < to; ++k)
                largest = std::max(largest, std::abs(m_bins[size_t(k)]) * scale);
            setGrey(pixels, x, c, float(largest));
        }
    }
    return pixels;
}

}  // namespace lumivane
