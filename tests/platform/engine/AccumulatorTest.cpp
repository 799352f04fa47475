#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "EngineTestSupport.h"
#include "platform/engine/OffscreenRenderer.h"

namespace lumivane {
namespace {

using test::dataPath;

class EngineAccumulator : public ::testing::Test {
protected:
    void SetUp() override { LUMIVANE_REQUIRE_GL(); }

    std::unique_ptr<OffscreenRenderer> renderer(const char* name, float width, float height) {
        return std::make_unique<OffscreenRenderer>(width, height, ColorSpace::GenericRGB,
                                                   Composition::compositionWithFile(dataPath(name)),
                                                   TargetFormat::RGBAFloat);
    }
};

// A one-pixel checkerboard averages to exactly one half under a true box.
TEST_F(EngineAccumulator, BoxAverageAtAA2AndAA4) {
    for (int aa : {2, 4}) {
        auto r = renderer("checker.qtz", 8.0f * aa, 6.0f * aa);
        ASSERT_TRUE(r->createAccumulator(8, 6));
        r->clearAccumulator();
        ASSERT_TRUE(r->renderAtTime(0, nullptr));
        r->accumulate(1.0f);
        const ImageRGBAF image = r->accumulatorImageFloat();
        ASSERT_EQ(image.width, 8);
        ASSERT_EQ(image.height, 6);
        for (size_t i = 0; i < image.pixels.size(); i += 4) {
            EXPECT_FLOAT_EQ(image.pixels[i], 0.5f) << "AA " << aa << " at " << i / 4;
            EXPECT_FLOAT_EQ(image.pixels[i + 3], 1.0f);
        }
        const ImageRGBA8 bytes = r->accumulatorImage();
        EXPECT_NEAR(bytes.pixels[0], 127.5, 0.5);  // drivers may round either way
    }
}

// A fractional supersampling size: each output pixel is the exact area
// average of the render (premultiplied), rows from the top.
TEST_F(EngineAccumulator, FractionalRatioUsesExactAreaCoverage) {
    auto r = renderer("gradient.qtz", 7.5f, 9.0f);  // rounds up to 8 x 9
    ASSERT_TRUE(r->createAccumulator(5, 6));
    r->clearAccumulator();
    ASSERT_TRUE(r->renderAtTime(0, nullptr));
    r->accumulate(1.0f);
    const ImageRGBAF source = r->createSnapshotImageFloat();
    const ImageRGBAF result = r->accumulatorImageFloat();
    const double rx = 8.0 / 5, ry = 9.0 / 6;
    for (int oy = 0; oy < 6; ++oy) {
        for (int ox = 0; ox < 5; ++ox) {
            std::array<double, 4> sum{};
            for (int y = 0; y < 9; ++y) {
                const double wy = std::min(y + 1.0, (oy + 1) * ry) - std::max(double(y), oy * ry);
                for (int x = 0; x < 8 && wy > 0; ++x) {
                    const double wx =
                        std::min(x + 1.0, (ox + 1) * rx) - std::max(double(x), ox * rx);
                    if (wx <= 0) continue;
                    const float* p = &source.pixels[(size_t(y) * 8 + x) * 4];
                    for (int c = 0; c < 3; ++c) sum[c] += p[c] * p[3] * wx * wy;
                    sum[3] += p[3] * wx * wy;
                }
            }
            const float* q = &result.pixels[(size_t(oy) * 5 + ox) * 4];
            EXPECT_NEAR(q[3], sum[3] / (rx * ry), 1e-5) << ox << "," << oy;
            for (int c = 0; c < 3 && sum[3] > 0; ++c) {
                EXPECT_NEAR(q[c], sum[c] / sum[3], 1e-4) << ox << "," << oy << " channel " << c;
            }
        }
    }
}

// Motion blur: samples of TIME at 0, 1, 2, 3 weighted 1/4 average to 1.5.
TEST_F(EngineAccumulator, WeightedSamplesAverage) {
    auto r = renderer("time.qtz", 4, 4);
    ASSERT_TRUE(r->createAccumulator(2, 2));
    for (int frame = 0; frame < 2; ++frame) {
        r->clearAccumulator();
        for (int j = 0; j < 4; ++j) {
            ASSERT_TRUE(r->renderAtTime(frame * 10 + j, nullptr));
            r->accumulate(1.0f / 4);
        }
        const ImageRGBAF image = r->accumulatorImageFloat();
        EXPECT_FLOAT_EQ(image.pixels[0], frame * 10 + 1.5f);
        EXPECT_FLOAT_EQ(image.pixels[3], 1.0f);
    }
}

// The newest sample is held back for the resolve; drawing again must add it
// first, and reading twice must not add it twice.
TEST_F(EngineAccumulator, HeldBackSampleSurvivesLaterDrawing) {
    auto r = renderer("time.qtz", 4, 4);
    ASSERT_TRUE(r->createAccumulator(2, 2));
    r->clearAccumulator();
    EXPECT_FLOAT_EQ(r->accumulatorImageFloat().pixels[3], 0.0f);  // nothing yet
    ASSERT_TRUE(r->renderAtTime(1, nullptr));
    r->accumulate(0.5f);
    r->clear();
    ASSERT_TRUE(r->renderAtTime(5, nullptr));
    const ImageRGBAF half = r->accumulatorImageFloat();  // straight alpha: 1 at half cover
    EXPECT_FLOAT_EQ(half.pixels[0], 1.0f);
    EXPECT_FLOAT_EQ(half.pixels[3], 0.5f);
    r->accumulate(0.5f);
    EXPECT_FLOAT_EQ(r->accumulatorImageFloat().pixels[0], 3.0f);
    EXPECT_FLOAT_EQ(r->accumulatorImageFloat().pixels[0], 3.0f);
    ASSERT_TRUE(r->renderAtTime(9, nullptr));
    EXPECT_FLOAT_EQ(r->accumulatorImageFloat().pixels[0], 3.0f);
    r->clearAccumulator();
    EXPECT_FLOAT_EQ(r->accumulatorImageFloat().pixels[0], 0.0f);
}

TEST_F(EngineAccumulator, ImpossibleSizeIsRefused) {
    auto r = renderer("time.qtz", 4, 4);
    EXPECT_FALSE(r->createAccumulator(0, 4));
    EXPECT_FALSE(r->createAccumulator(1 << 20, 4));
    EXPECT_TRUE(r->createAccumulator(4, 4));
}

}  // namespace
}  // namespace lumivane
