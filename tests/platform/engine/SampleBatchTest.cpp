#include <gtest/gtest.h>

#include <cstring>

#include "EngineTestSupport.h"
#include "platform/engine/OffscreenRenderer.h"
#include "platform/engine/SampleAccumulator.h"

namespace lumivane {
namespace {

using test::dataPath;

struct BatchCase {
    TargetFormat format;
    int samples;
};

class EngineSampleBatch : public ::testing::TestWithParam<BatchCase> {
protected:
    void SetUp() override { LUMIVANE_REQUIRE_GL(); }
};

// A copy of the render as a texture of our own (rows from the bottom, as GL
// keeps them), so that one source feeds both accumulators.
struct SourceTarget {
    GLTexture texture;
    GLFramebuffer framebuffer;
    GLint format = 0;

    SourceTarget(int width, int height, TargetFormat targetFormat)
        : format(targetFormat == TargetFormat::RGBAFloat ? GL_RGBA32F : GL_RGBA8) {
        texture = GLTexture::create();
        glBindTexture(GL_TEXTURE_2D, texture.id());
        glTexImage2D(GL_TEXTURE_2D, 0, format, width, height, 0, GL_RGBA, GL_FLOAT, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        framebuffer = GLFramebuffer::create();
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture.id(),
                               0);
    }
    void upload(const ImageRGBAF& image) {
        glBindTexture(GL_TEXTURE_2D, texture.id());
        for (int row = 0; row < image.height; ++row) {
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, image.height - 1 - row, image.width, 1, GL_RGBA,
                            GL_FLOAT, &image.pixels[size_t(row) * image.width * 4]);
        }
    }
};

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Samples added several to a pass must give the bits that one pass per
// sample gives, in float and in bytes, with the sum carried across batches:
// copied into the batch, or drawn straight into it by the renderer.
TEST_P(EngineSampleBatch, SameBitsAsOnePassPerSample) {
    const BatchCase c = GetParam();
    const int width = 23, height = 17;
    OffscreenRenderer r(width, height, ColorSpace::GenericRGB,
                        Composition::compositionWithFile(dataPath("moving.qtz")), c.format);
    SourceTarget source(width, height, c.format);
    SampleAccumulator batched, single;
    ASSERT_TRUE(batched.create(width, height));
    ASSERT_TRUE(single.create(width, height));
    ASSERT_TRUE(r.createAccumulator(width, height));
    const float weight = float(1.0 / c.samples);
    for (int frame = 0; frame < 2; ++frame) {
        r.clear();
        r.clearAccumulator();
        batched.clear();
        single.clear();
        for (int j = 0; j < c.samples; ++j) {
            ASSERT_TRUE(r.renderAtTime(frame * 7 + j * 0.37, nullptr));
            const ImageRGBAF render = r.createSnapshotImageFloat();
            batched.flush();
            single.flush();
            source.upload(render);
            batched.accumulate(source.texture.id(), source.framebuffer.id(), source.format, width,
                               height, weight);
            // No framebuffer to copy from: a pass per sample, as before batching.
            single.accumulate(source.texture.id(), 0, source.format, width, height, weight);
            r.accumulate(weight);
        }
        const ImageRGBAF floats = batched.imageFloat();
        ASSERT_EQ(floats.pixels.size(), size_t(width) * height * 4);
        EXPECT_TRUE(sameBits(floats.pixels, single.imageFloat().pixels)) << "frame " << frame;
        EXPECT_EQ(batched.image().pixels, single.image().pixels) << "frame " << frame;
        EXPECT_TRUE(sameBits(r.accumulatorImageFloat().pixels, floats.pixels)) << "frame " << frame;
        EXPECT_EQ(r.accumulatorImage().pixels, single.image().pixels) << "frame " << frame;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, EngineSampleBatch,
                         ::testing::Values(BatchCase{TargetFormat::RGBAFloat, 2},
                                           BatchCase{TargetFormat::RGBAFloat, 9},
                                           BatchCase{TargetFormat::RGBAFloat, 17},
                                           BatchCase{TargetFormat::RGBA8, 4},
                                           BatchCase{TargetFormat::RGBA8, 16}));

}  // namespace
}  // namespace lumivane
