#include <gtest/gtest.h>

#include <OpenImageIO/imagebuf.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "EngineTestSupport.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/OffscreenRenderer.h"

namespace lumivane {
namespace {

using test::dataPath;

std::unique_ptr<OffscreenRenderer> rendererFor(const std::string& path, float width, float height,
                                               TargetFormat format = TargetFormat::RGBAFloat) {
    return std::make_unique<OffscreenRenderer>(width, height, ColorSpace::GenericRGB,
                                               Composition::compositionWithFile(path), format);
}

// Pixel (x, y) with y counted from the top.
std::array<float, 4> pixel(const ImageRGBAF& image, int x, int y) {
    const float* p = image.pixels.data() + (size_t(y) * image.width + x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

class EngineRender : public ::testing::Test {
protected:
    void SetUp() override { LUMIVANE_REQUIRE_GL(); }
};

TEST_F(EngineRender, TimeDeltaAndFrameIndexCarryOverBetweenRenders) {
    auto renderer = rendererFor(dataPath("time.qtz"), 2, 2);
    const double times[] = {0.5, 0.75, 2.0};
    const float deltas[] = {0.0f, 0.25f, 1.25f};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(renderer->renderAtTime(times[i], nullptr));
        const auto p = pixel(renderer->createSnapshotImageFloat(), 1, 1);
        EXPECT_FLOAT_EQ(p[0], float(times[i]));
        EXPECT_FLOAT_EQ(p[1], deltas[i]);
        EXPECT_FLOAT_EQ(p[2], float(i));
    }
}

TEST_F(EngineRender, SameTimesGiveSameFrames) {
    auto a = rendererFor(dataPath("counter.qtz"), 4, 4, TargetFormat::RGBA8);
    auto b = rendererFor(dataPath("counter.qtz"), 4, 4, TargetFormat::RGBA8);
    for (double t : {0.0, 0.1, 0.2}) {
        ASSERT_TRUE(a->renderAtTime(t, nullptr));
        ASSERT_TRUE(b->renderAtTime(t, nullptr));
    }
    EXPECT_EQ(a->createSnapshotImage().pixels, b->createSnapshotImage().pixels);
}

TEST_F(EngineRender, PersistentBufferCountsRenders) {
    auto renderer = rendererFor(dataPath("counter.qtz"), 3, 3);
    for (int i = 1; i <= 5; ++i) {
        ASSERT_TRUE(renderer->renderAtTime(i * 0.1, nullptr));
        const ImageRGBAF image = renderer->createSnapshotImageFloat();
        EXPECT_FLOAT_EQ(pixel(image, 0, 0)[0], float(i));
        EXPECT_FLOAT_EQ(pixel(image, 2, 2)[0], float(i));
    }
}

TEST_F(EngineRender, ReadsGlslOneHabitsAndVersionOneLayout) {
    auto renderer = rendererFor(dataPath("legacy.qtz"), 2, 2);
    ASSERT_TRUE(renderer->renderAtTime(0.5, nullptr));
    ASSERT_TRUE(renderer->renderAtTime(1.25, nullptr));
    const auto p = pixel(renderer->createSnapshotImageFloat(), 0, 1);  // bottom left
    EXPECT_FLOAT_EQ(p[0], 1.75f);  // the persistent float buffer summed both times
    EXPECT_FLOAT_EQ(p[1], 0.0f);
    EXPECT_FLOAT_EQ(p[2], 0.25f);
    EXPECT_FLOAT_EQ(p[3], 0.25f);
}

TEST_F(EngineRender, PassesDrawAtTheirOwnSizesInOrder) {
    auto renderer = rendererFor(dataPath("multipass.qtz"), 40, 20);
    ASSERT_TRUE(renderer->renderAtTime(0, nullptr));
    auto p = pixel(renderer->createSnapshotImageFloat(), 10, 10);
    // "small" is 20 x 5; "scratch" copied its centre; the last pass adds both.
    EXPECT_NEAR(p[0], 0.5f, 3e-3);  // two 8-bit quarters
    EXPECT_NEAR(p[1], 20.0f / 255, 1e-3);
    EXPECT_NEAR(p[2], 5.0f / 255, 1e-3);
    EXPECT_NEAR(p[3], 2.0f / 4, 1e-3);
    renderer->setValue(4.0, "divisor");
    ASSERT_TRUE(renderer->renderAtTime(0.1, nullptr));
    p = pixel(renderer->createSnapshotImageFloat(), 10, 10);
    EXPECT_NEAR(p[1], 10.0f / 255, 1e-3);
}

TEST_F(EngineRender, FloatTargetKeepsValuesAboveOne) {
    auto renderer = rendererFor(dataPath("bright.qtz"), 2, 2);
    ASSERT_TRUE(renderer->renderAtTime(0, nullptr));
    const auto p = pixel(renderer->createSnapshotImageFloat(), 0, 0);
    EXPECT_FLOAT_EQ(p[0], 2.5f);
    EXPECT_FLOAT_EQ(p[2], 4.0f);
    const ImageRGBA8 clamped = renderer->createSnapshotImage();
    EXPECT_EQ(clamped.pixels[0], 255);
    EXPECT_NEAR(clamped.pixels[1], 127.5, 0.5);

    auto eight = rendererFor(dataPath("bright.qtz"), 2, 2, TargetFormat::RGBA8);
    ASSERT_TRUE(eight->renderAtTime(0, nullptr));
    EXPECT_FLOAT_EQ(pixel(eight->createSnapshotImageFloat(), 0, 0)[0], 1.0f);
}

TEST_F(EngineRender, InputsDefaultsSetValueAndUnknownKey) {
    auto renderer = rendererFor(dataPath("inputs.qtz"), 4, 1);
    EXPECT_EQ(renderer->valueForInputKey("speed")->doubleValue(), 0.5);
    EXPECT_EQ(renderer->valueForInputKey("title")->stringValue(), "Hello");
    EXPECT_EQ(*renderer->valueForInputKey("tint"), PlistValue(PlistArray{1.0, 0.5, 0.0, 1.0}));
    EXPECT_FALSE(renderer->valueForInputKey("picture").has_value());
    EXPECT_FALSE(renderer->valueForInputKey("nothing").has_value());
    EXPECT_THROW(renderer->setValue(1.0, "nothing"), EngineError);
    EXPECT_THROW(renderer->setValue(PlistArray{1.0}, "speed"), EngineError);

    ASSERT_TRUE(renderer->renderAtTime(0, nullptr));
    ImageRGBAF image = renderer->createSnapshotImageFloat();
    EXPECT_EQ(pixel(image, 0, 0), (std::array<float, 4>{1, 0, 1, 0.5f}));
    EXPECT_EQ(pixel(image, 1, 0), (std::array<float, 4>{1, 0.5f, 0, 1}));
    const auto sizes = pixel(image, 2, 0);
    EXPECT_EQ(sizes[0], 0.0f);  // an image that nothing set is empty
    EXPECT_GT(sizes[2], 0.0f);  // the text is drawn
    EXPECT_GT(pixel(image, 3, 0)[0], 0.0f);
    EXPECT_EQ(pixel(image, 3, 0)[1], 0.0f);  // audio is silent
    EXPECT_FLOAT_EQ(pixel(image, 3, 0)[3], 1.0f);

    renderer->setValue(false, "enabled");
    renderer->setValue(true, "trigger");
    renderer->setValue(int64_t(2), "mode");
    renderer->setValue(std::string("3.5"), "speed");
    renderer->setValue(std::string(""), "title");
    ASSERT_TRUE(renderer->renderAtTime(0.1, nullptr));
    image = renderer->createSnapshotImageFloat();
    EXPECT_EQ(pixel(image, 0, 0), (std::array<float, 4>{0, 1, 2, 3.5f}));
    EXPECT_EQ(pixel(image, 2, 0)[2], 0.0f);  // empty text: empty image
    // An event reads true for one render only.
    ASSERT_TRUE(renderer->renderAtTime(0.2, nullptr));
    EXPECT_EQ(pixel(renderer->createSnapshotImageFloat(), 0, 0)[1], 0.0f);

    const PlistDict values = renderer->propertyListFromInputValues();
    EXPECT_EQ(values.find("mode")->intValue(), 2);
    EXPECT_EQ(values.find("title")->stringValue(), "");
}

TEST_F(EngineRender, TextWithMissingGlyphsAndBadUtf8StillDraws) {
    auto renderer = rendererFor(dataPath("inputs.qtz"), 4, 1);
    renderer->setValue(std::string("\xF0\x9F\x90\x99 \xFF\xFE bad \xE2\x82"), "title");
    ASSERT_TRUE(renderer->renderAtTime(0, nullptr));
    EXPECT_GT(pixel(renderer->createSnapshotImageFloat(), 2, 0)[2], 0.0f);
}

TEST_F(EngineRender, ImportedAndSetImagesAreSampledWithStraightAlpha) {
    const auto folder = std::filesystem::temp_directory_path() / "lumivane-engine-import";
    std::filesystem::create_directories(folder);
    {
        OIIO::ImageSpec spec(2, 2, 4, OIIO::TypeDesc::UINT8);
        spec.attribute("oiio:UnassociatedAlpha", 1);  // write the colour as it stands
        OIIO::ImageBuf png(spec);
        const float colour[] = {1.0f, 0.5f, 0.0f, 0.5f};
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x) png.setpixel(x, y, colour);
        ASSERT_TRUE(png.write((folder / "tile.png").string()));
    }
    std::ofstream((folder / "imported.qtz").string())
        << "/*{ \"IMPORTED\": { \"tile\": { \"PATH\": \"tile.png\" } },\n"
           "    \"INPUTS\": [ { \"NAME\": \"user\", \"TYPE\": \"image\" } ] }*/\n"
           "void main() { gl_FragColor = gl_FragCoord.x < 1.0 ? IMG_THIS_NORM_PIXEL(tile)\n"
           "    : vec4(IMG_SIZE(user), IMG_NORM_PIXEL(user, vec2(0.5)).ga); }\n";
    auto renderer = rendererFor((folder / "imported.qtz").string(), 2, 1);
    renderer->setValue((folder / "tile.png").string(), "user");
    EXPECT_THROW(renderer->setValue((folder / "absent.png").string(), "user"), EngineError);
    ASSERT_TRUE(renderer->renderAtTime(0, nullptr));
    const ImageRGBAF image = renderer->createSnapshotImageFloat();
    const auto tile = pixel(image, 0, 0);
    EXPECT_NEAR(tile[0], 1.0f, 1e-3);
    EXPECT_NEAR(tile[1], 128.0f / 255, 1e-3);
    EXPECT_NEAR(tile[3], 128.0f / 255, 1e-3);
    EXPECT_EQ(pixel(image, 1, 0), (std::array<float, 4>{2, 2, 128.0f / 255, 128.0f / 255}));
    std::filesystem::remove_all(folder);
}

TEST_F(EngineRender, VertexShaderBesideTheDocumentIsUsed) {
    auto renderer = rendererFor(dataPath("vertex.qtz"), 2, 2);
    ASSERT_TRUE(renderer->renderAtTime(0, nullptr));
    const auto p = pixel(renderer->createSnapshotImageFloat(), 1, 0);  // top right
    EXPECT_NEAR(p[0], 0.375f, 1e-4);
    EXPECT_NEAR(p[1], 0.375f, 1e-4);
}

TEST_F(EngineRender, SizesBeyondTheGpuThrow) {
    EXPECT_THROW(rendererFor(dataPath("time.qtz"), 1e6f, 10), EngineError);
    EXPECT_THROW(rendererFor(dataPath("time.qtz"), 0, 10), EngineError);
    auto renderer = rendererFor(dataPath("time.qtz"), 10.5f, 3.2f);
    EXPECT_EQ(renderer->width(), 11);
    EXPECT_EQ(renderer->height(), 4);
}

TEST_F(EngineRender, ClearLeavesTransparentBlack) {
    auto renderer = rendererFor(dataPath("bright.qtz"), 2, 2, TargetFormat::RGBA8);
    ASSERT_TRUE(renderer->renderAtTime(0, nullptr));
    renderer->clear();
    const ImageRGBA8 image = renderer->createSnapshotImage();
    EXPECT_TRUE(
        std::all_of(image.pixels.begin(), image.pixels.end(), [](uint8_t v) { return v == 0; }));
}

}  // namespace
}  // namespace lumivane
