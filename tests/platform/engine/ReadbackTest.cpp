#include <gtest/gtest.h>

#include <optional>
#include <variant>

#include "EngineTestSupport.h"
#include "platform/engine/OffscreenRenderer.h"

namespace lumivane {
namespace {

using test::dataPath;

struct ReadbackCase {
    TargetFormat target;
    TargetFormat samples;
    ReadbackSource source;
};

class EngineReadback : public ::testing::TestWithParam<ReadbackCase> {
protected:
    void SetUp() override { LUMIVANE_REQUIRE_GL(); }
};

// The synchronous image of what was last drawn, in the case's sample type.
FrameImage synchronousImage(OffscreenRenderer& r, const ReadbackCase& c) {
    const bool floats = c.samples == TargetFormat::RGBAFloat;
    if (c.source == ReadbackSource::Render)
        return floats ? FrameImage(r.createSnapshotImageFloat())
                      : FrameImage(r.createSnapshotImage());
    return floats ? FrameImage(r.accumulatorImageFloat()) : FrameImage(r.accumulatorImage());
}

void drawFrame(OffscreenRenderer& r, const ReadbackCase& c, int frame) {
    r.clear();
    ASSERT_TRUE(r.renderAtTime(frame, nullptr));
    if (c.source == ReadbackSource::Render) return;
    r.clearAccumulator();
    for (int j = 0; j < 3; ++j) {
        if (j > 0) {
            ASSERT_TRUE(r.renderAtTime(frame + j / 3.0, nullptr));
        }
        r.accumulate(1.0f / 3);
    }
}

bool sameImage(const FrameImage& a, const FrameImage& b) {
    return std::visit(
        [&](const auto& x) {
            using Image = std::decay_t<decltype(x)>;
            const auto* y = std::get_if<Image>(&b);
            return y && x.width == y->width && x.height == y->height && x.pixels == y->pixels;
        },
        a);
}

// Frame N is read back while frame N+1 renders over the same targets; it must
// still arrive as the synchronous read saw it.
TEST_P(EngineReadback, SameBytesAsSynchronousWhileTheNextFrameRenders) {
    const ReadbackCase c = GetParam();
    OffscreenRenderer r(13, 9, ColorSpace::GenericRGB,
                        Composition::compositionWithFile(dataPath("moving.qtz")), c.target);
    if (c.source == ReadbackSource::Accumulator) {
        ASSERT_TRUE(r.createAccumulator(5, 4));
    }
    std::optional<ReadbackTicket> previous;
    FrameImage expected;
    for (int frame = 0; frame < 6; ++frame) {
        drawFrame(r, c, frame);
        const FrameImage now = synchronousImage(r, c);
        auto ticket = r.beginReadback(c.source, c.samples);
        ASSERT_TRUE(ticket) << ticket.error();
        if (previous) {
            auto taken = r.takeReadback(*previous);
            ASSERT_TRUE(taken) << taken.error();
            EXPECT_TRUE(sameImage(*taken, expected)) << "frame " << frame - 1;
            EXPECT_FALSE(sameImage(*taken, now)) << "frame " << frame - 1 << " is not moving";
        }
        previous = *ticket;
        expected = now;
    }
    auto last = r.takeReadback(*previous);
    ASSERT_TRUE(last) << last.error();
    EXPECT_TRUE(sameImage(*last, expected));
    EXPECT_FALSE(r.takeReadback(*previous)) << "a ticket is taken once";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EngineReadback,
    ::testing::Values(
        ReadbackCase{TargetFormat::RGBA8, TargetFormat::RGBA8, ReadbackSource::Render},
        ReadbackCase{TargetFormat::RGBAFloat, TargetFormat::RGBAFloat, ReadbackSource::Render},
        ReadbackCase{TargetFormat::RGBAFloat, TargetFormat::RGBA8, ReadbackSource::Render},
        ReadbackCase{TargetFormat::RGBA8, TargetFormat::RGBA8, ReadbackSource::Accumulator},
        ReadbackCase{TargetFormat::RGBAFloat, TargetFormat::RGBAFloat,
                     ReadbackSource::Accumulator}));

TEST(EngineReadbackRing, AThirdReadIsRefusedUntilOneIsTaken) {
    LUMIVANE_REQUIRE_GL();
    OffscreenRenderer r(4, 4, ColorSpace::GenericRGB,
                        Composition::compositionWithFile(dataPath("moving.qtz")));
    ASSERT_TRUE(r.renderAtTime(0, nullptr));
    auto first = r.beginReadback(ReadbackSource::Render, TargetFormat::RGBA8);
    auto second = r.beginReadback(ReadbackSource::Render, TargetFormat::RGBAFloat);
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(r.beginReadback(ReadbackSource::Render, TargetFormat::RGBA8));
    EXPECT_FALSE(r.beginReadback(ReadbackSource::Accumulator, TargetFormat::RGBA8))
        << "no accumulator was made";
    auto taken = r.takeReadback(*second);
    ASSERT_TRUE(taken);
    EXPECT_TRUE(std::holds_alternative<ImageRGBAF>(*taken));
    EXPECT_TRUE(r.beginReadback(ReadbackSource::Render, TargetFormat::RGBA8));
    EXPECT_TRUE(sameImage(*r.takeReadback(*first), r.createSnapshotImage()));
}

}  // namespace
}  // namespace lumivane
