// Frames converted to an encoder's planes on the GPU against the same frames
// read back as RGBA and converted by swscale, the CPU path.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <random>
#include <string>
#include <utility>

#include "platform/engine/HeadlessGLContext.h"
#include "platform/engine/OffscreenRenderer.h"
#include "platform/engine/YuvConversion.h"
#include "platform/media/FrameConverter.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace lumivane {
namespace {

enum class Picture { Gradient, ColourChart, RandomPixels };

struct ConversionCase {
    AVPixelFormat format;
    bool fullRange;
    ReadbackSource source;
    int width;
    int height;
};

std::string caseName(const ConversionCase& c) {
    return std::string(av_get_pix_fmt_name(c.format)) +
           (c.source == ReadbackSource::Render ? "_Render_" : "_Accumulator_") +
           std::to_string(c.width) + "x" + std::to_string(c.height);
}

void PrintTo(const ConversionCase& c, std::ostream* out) {
    *out << caseName(c);
}

TexturePixels picture(Picture kind, int width, int height) {
    TexturePixels pixels{
        width, height, false, std::vector<uint8_t>(size_t(width) * height * 4), {}};
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &pixels.bytes[(size_t(y) * width + x) * 4];
            const int cell = (x * 6 / width) + 6 * (y * 4 / height);
            switch (kind) {
                case Picture::Gradient:
                    p[0] = uint8_t(x * 255 / (width - 1));
                    p[1] = uint8_t(y * 255 / (height - 1));
                    p[2] = uint8_t(255 - p[0]);
                    p[3] = 255;
                    break;
                case Picture::ColourChart:  // 24 patches: primaries, greys, black and white among
                                            // them
                    p[0] = uint8_t(cell % 3 == 0 ? 255 : cell * 37);
                    p[1] = uint8_t(cell % 4 == 1 ? 255 : cell * 91);
                    p[2] = uint8_t(cell % 5 == 2 ? 0 : cell * 149);
                    p[3] = 255;
                    break;
                case Picture::RandomPixels:  // transparency too: composited over black
                    for (int c = 0; c < 4; ++c) p[c] = uint8_t(random());
                    break;
            }
        }
    }
    return pixels;
}

const AVFrame& planes(FrameConverter& converter, const FrameImage& frame) {
    auto converted = converter.convert(frame);
    if (!converted) throw std::runtime_error(converted.error());
    return **converted;
}

class GpuConversion : public ::testing::TestWithParam<ConversionCase> {
protected:
    void SetUp() override {
        if (!HeadlessGLContext::create()) GTEST_SKIP() << "no EGL display here";
    }
};

// Every sample within one code of swscale's, for each picture; the GPU's
// planes the same, byte for byte, when the frame is converted again.
TEST_P(GpuConversion, AgreesWithSwscaleWithinOneCode) {
    const ConversionCase c = GetParam();
    EncoderSettings settings;
    settings.pixelFormat = c.format;
    settings.fullRange = c.fullRange;
    const auto layout = FrameConverter::yuvLayout(settings);
    ASSERT_TRUE(layout && YuvConversion::supports(*layout, c.width, c.height));
    const auto composition = Composition::compositionWithFile(std::string(LUMIVANE_SOURCE_DIR) +
                                                              "/tests/cli/data/picture.qtz");
    OffscreenRenderer renderer(float(c.width), float(c.height), ColorSpace::GenericRGB,
                               composition);
    ASSERT_TRUE(renderer.createAccumulator(c.width, c.height));
    FrameConverter gpuConverter(c.width, c.height, settings);
    FrameConverter cpuConverter(c.width, c.height, settings);
    const int depthBytes = layout->bits > 8 ? 2 : 1;
    std::vector<uint8_t> previous;  // each picture must show, or both paths would agree on nothing
    for (Picture kind : {Picture::Gradient, Picture::ColourChart, Picture::RandomPixels}) {
        SCOPED_TRACE("picture " + std::to_string(int(kind)));
        renderer.setImagePixels("picture", picture(kind, c.width, c.height));
        ASSERT_TRUE(renderer.renderAtTime(0, nullptr));
        renderer.clearAccumulator();
        renderer.accumulate(1.0f);
        const auto read = [&](auto how) {
            auto ticket = renderer.beginReadback(c.source, how);
            EXPECT_TRUE(ticket) << ticket.error();
            return *renderer.takeReadback(*ticket);
        };
        const FrameImage gpu = read(*layout);
        EXPECT_EQ(std::get<ImageYuv>(gpu).pixels, std::get<ImageYuv>(read(*layout)).pixels);
        EXPECT_NE(std::exchange(previous, std::get<ImageYuv>(gpu).pixels), previous);
        const AVFrame& ours = planes(gpuConverter, gpu);
        const AVFrame& theirs = planes(cpuConverter, read(TargetFormat::RGBA8));
        const ImageYuv& shape = std::get<ImageYuv>(gpu);
        int worst = 0;
        for (int plane = 0; plane < 3; ++plane) {
            for (int y = 0; y < shape.planeHeight(plane); ++y) {
                const uint8_t* a = ours.data[plane] + y * ours.linesize[plane];
                const uint8_t* b = theirs.data[plane] + y * theirs.linesize[plane];
                for (int x = 0; x < shape.planeWidth(plane); ++x) {
                    const int u = depthBytes == 2 ? a[2 * x] | a[2 * x + 1] << 8 : a[x];
                    const int v = depthBytes == 2 ? b[2 * x] | b[2 * x + 1] << 8 : b[x];
                    worst = std::max(worst, std::abs(u - v));
                }
            }
        }
        EXPECT_LE(worst, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, GpuConversion,
    ::testing::Values(
        ConversionCase{AV_PIX_FMT_YUV420P, false, ReadbackSource::Render, 96, 64},
        ConversionCase{AV_PIX_FMT_YUV420P, false, ReadbackSource::Accumulator, 90, 62},
        ConversionCase{AV_PIX_FMT_YUVJ420P, true, ReadbackSource::Render, 96, 64},
        ConversionCase{AV_PIX_FMT_YUV422P, false, ReadbackSource::Accumulator, 96, 63},
        ConversionCase{AV_PIX_FMT_YUV444P, false, ReadbackSource::Render, 97, 64},
        ConversionCase{AV_PIX_FMT_YUV420P10LE, false, ReadbackSource::Accumulator, 96, 64},
        ConversionCase{AV_PIX_FMT_YUV422P10LE, false, ReadbackSource::Render, 96, 64},
        ConversionCase{AV_PIX_FMT_YUV444P10LE, false, ReadbackSource::Render, 64, 48}),
    [](const auto& info) { return caseName(info.param); });

}  // namespace
}  // namespace lumivane
