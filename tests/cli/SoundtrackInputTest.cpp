// Audio inputs hear the soundtrack at each frame's time: the frames of a
// composition that draws its inputs' values hold the waveform's latest
// samples and the spectrum's loudest bin, for a whole render and a chunk.
#include <gtest/gtest.h>

#include <OpenImageIO/imagebuf.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "ProcessRunner.h"

namespace lumivane {
namespace {

constexpr int kRate = 48000;
constexpr int kFramesPerSecond = 10;
constexpr int kPerFrame = kRate / kFramesPerSecond;
constexpr int kFrames = 12;
constexpr int kWindow = 2048;  // the FFT window, so a bin is kRate / kWindow Hz
constexpr int kRightBin = 300;

int leftBin(int tenth) {
    return 40 + 60 * tenth;
}

// Tones centred on FFT bins, so a window of them holds whole cycles: left,
// a new tone every tenth of a second; right, one tone throughout.
std::vector<float> stereoSteps() {
    std::vector<float> interleaved(size_t(kFrames) * kPerFrame * 2);
    for (int i = 0; i < kFrames * kPerFrame; ++i) {
        const double phase = 2 * std::numbers::pi * i / kWindow;
        interleaved[size_t(2 * i)] = float(0.8 * std::sin(phase * leftBin(i / kPerFrame)));
        interleaved[size_t(2 * i + 1)] = float(0.5 * std::sin(phase * kRightBin));
    }
    return interleaved;
}

void writeFloatWav(const std::string& path, const std::vector<float>& interleaved) {
    const auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<char*>(&v), 4); };
    const auto u16 = [](uint16_t v) { return std::string(reinterpret_cast<char*>(&v), 2); };
    const uint32_t bytes = uint32_t(interleaved.size() * sizeof(float));
    std::string data(bytes, '\0');
    std::memcpy(data.data(), interleaved.data(), bytes);
    const std::string format = u16(3) + u16(2) + u32(kRate) + u32(kRate * 8) + u16(8) + u16(32);
    test::writeFile(path, "RIFF" + u32(4 + 8 + 16 + 8 + bytes) + "WAVEfmt " + u32(16) + format +
                              "data" + u32(bytes) + data);
}

// What the shader wrote: OpenEXR frames hold it as linear light. Rows are
// counted from the bottom, as the shader counts them.
struct Frame {
    std::vector<float> rgba;
    int width = 0;
    int height = 0;
    float at(int x, int row, int channel) const {
        const size_t y = size_t(height - 1 - row);
        const float v = rgba[(y * size_t(width) + size_t(x)) * 4 + size_t(channel)];
        return v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1 / 2.4f) - 0.055f;
    }
    int count(int x, int row, int channel, int unit) const {
        return int(std::lround(at(x, row, channel) * float(unit)));
    }
    int bin(int row) const { return 32 * count(0, row, 0, 32) + count(0, row, 1, 32); }
};

Frame readFrame(const std::string& path) {
    OIIO::ImageBuf image(path);
    Frame frame;
    EXPECT_TRUE(image.read(0, 0, true, OIIO::TypeDesc::FLOAT)) << image.geterror();
    frame.width = image.spec().width;
    frame.height = image.spec().height;
    frame.rgba.resize(size_t(frame.width) * size_t(frame.height) * 4);
    image.get_pixels(image.roi(), OIIO::TypeDesc::FLOAT, frame.rgba.data());
    return frame;
}

std::string frameName(int index) {
    return "Image-" + std::string(index < 9 ? "0" : "") + std::to_string(index + 1) + ".exr";
}

class SoundtrackInput : public ::testing::Test {
protected:
    test::ProcessResult render(const std::string& directory, std::vector<std::string> extra) {
        std::vector<std::string> argv = {
            test::cliPath(),         "-w", "64",     "-h", "4", "-f", "10", "-d", "1.2", "-c",
            "com.ilm.openexr-image", "-o", directory};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(std::string(LUMIVANE_SOURCE_DIR) + "/tests/cli/data/listens.qtz");
        return test::runProcess(argv, test::withTimeout(120));
    }
    test::TempDir m_dir;
};

TEST_F(SoundtrackInput, FramesShowTheSamplesAndPeakBeforeTheirTime) {
    const std::vector<float> sound = stereoSteps();
    writeFloatWav(m_dir.file("steps.wav"), sound);
    auto whole = render(m_dir.file("whole"), {"--audio", m_dir.file("steps.wav")});
    ASSERT_EQ(whole.status, 0) << whole.err;
    for (int i = 0; i < kFrames; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i + 1));
        const Frame frame = readFrame(m_dir.file("whole/" + frameName(i)));
        const int end = i * kPerFrame;
        for (int x = 0; x < 64; x += 7) {
            const int at = end - 64 + x;  // before the sound starts: silence
            for (int c = 0; c < 2; ++c) {
                const float sample = at < 0 ? 0.0f : sound[size_t(2 * at + c)];
                EXPECT_NEAR(frame.at(x, 0, c), 0.5f + 0.5f * sample, 2e-3) << x;
            }
        }
        // The window before the frame lies in the previous tenth's tone.
        EXPECT_EQ(frame.bin(1), i == 0 ? 0 : leftBin(i - 1));
        EXPECT_NEAR(frame.at(0, 1, 2), i == 0 ? 0 : 0.8, 0.01);
        EXPECT_EQ(frame.bin(2), i == 0 ? 0 : kRightBin);
        EXPECT_NEAR(frame.at(0, 2, 2), i == 0 ? 0 : 0.5, 0.01);
        EXPECT_EQ(frame.count(0, 3, 0, 4096), 2048);
        EXPECT_EQ(frame.count(0, 3, 1, 16), 2);
        EXPECT_EQ(frame.count(0, 3, 2, 4096), 1024);
    }

    auto chunk =
        render(m_dir.file("chunk"), {"--audio", m_dir.file("steps.wav"), "--frames", "5-8", "-v"});
    ASSERT_EQ(chunk.status, 0) << chunk.err;
    for (int i = 4; i < 8; ++i) {
        EXPECT_EQ(readFrame(m_dir.file("chunk/" + frameName(i))).rgba,
                  readFrame(m_dir.file("whole/" + frameName(i))).rgba)
            << frameName(i);
    }
}

TEST_F(SoundtrackInput, WithoutASoundtrackTheInputsAreSilentAndVerboseSaysSo) {
    auto silent = render(m_dir.file("silent"), {"-d", "0.1", "-v"});
    ASSERT_EQ(silent.status, 0) << silent.err;
    EXPECT_NE(silent.err.find("No soundtrack: audio inputs \"sound\", \"spectrum\" hear silence"),
              std::string::npos)
        << silent.err;
    const Frame frame = readFrame(m_dir.file("silent/Image-1.exr"));
    EXPECT_EQ(frame.at(0, 1, 2), 0.0f);
}

}  // namespace
}  // namespace lumivane
