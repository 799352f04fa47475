#include <gtest/gtest.h>

#include <filesystem>

#include "EngineTestSupport.h"
#include "platform/engine/Composition.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/EngineKeys.h"
#include "platform/engine/OffscreenRenderer.h"
#include "platform/engine/ShaderProgram.h"
#include "platform/engine/TextRasterizer.h"

namespace lumivane {
namespace {

using test::dataPath;

std::string loadError(const std::string& name) {
    try {
        Composition::compositionWithFile(dataPath(name));
    } catch (const EngineError& error) {
        return error.what();
    }
    return "";
}

TEST(CompositionLoad, FailuresNameTheFileAndWhatFailed) {
    const std::string quoted = "\"" + dataPath("no_header.qtz") + "\": ";
    EXPECT_EQ(loadError("no_header.qtz").rfind(quoted, 0), 0u) << loadError("no_header.qtz");
    EXPECT_NE(loadError("no_header.qtz").find("header"), std::string::npos);

    const std::string json = loadError("broken_json.qtz");
    EXPECT_NE(json.find("not valid JSON"), std::string::npos) << json;
    EXPECT_NE(json.find("line 5"), std::string::npos) << json;

    const std::string type = loadError("unknown_type.qtz");
    EXPECT_NE(type.find("\"wobble\" has unknown type \"quaternion\""), std::string::npos) << type;

    const std::string missing = loadError("missing_import.qtz");
    EXPECT_NE(missing.find("imported image \"photo\""), std::string::npos) << missing;
    EXPECT_NE(missing.find("no_such_picture.png"), std::string::npos) << missing;

    const std::string absent = loadError("does_not_exist.qtz");
    EXPECT_NE(absent.find("does_not_exist.qtz\": no such file"), std::string::npos) << absent;
}

TEST(CompositionLoad, GlslErrorNamesTheDocumentLine) {
    LUMIVANE_REQUIRE_GL();
    const std::string error = loadError("glsl_error.qtz");
    EXPECT_EQ(error.rfind("\"" + dataPath("glsl_error.qtz") + "\": line 8:", 0), 0u) << error;
    EXPECT_NE(error.find("notDeclaredAnywhere"), std::string::npos) << error;
}

// Both driver families' log formats map onto document lines; lines inside
// the generated prelude are said to be there.
TEST(CompositionLoad, CompilerLogsOfEitherDriverMapToDocumentLines) {
    const ShaderStageSource stage{"/x/doc.qtz", "", 4};
    EXPECT_EQ(
        ShaderProgram::describeLog(stage, "0(12) : error C1008: undefined variable \"foo\"\n"),
        "\"/x/doc.qtz\": line 8: error C1008: undefined variable \"foo\"");
    EXPECT_EQ(ShaderProgram::describeLog(stage,
                                         "0:5(3): error: `bar' undeclared\n"
                                         "0:6(1): warning: unused\n"),
              "\"/x/doc.qtz\": line 1: error: `bar' undeclared");
    EXPECT_EQ(ShaderProgram::describeLog(stage, "0:2(3): error: redeclared\n"),
              "\"/x/doc.qtz\": generated declarations: error: redeclared");
}

TEST(TextInput, InvalidUtf8IsReplacedNotDropped) {
    EXPECT_EQ(TextRasterizer::sanitizedUtf8("a\xFF"
                                            "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(TextRasterizer::sanitizedUtf8("\xE2\x82"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(TextRasterizer::sanitizedUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong
    EXPECT_EQ(TextRasterizer::sanitizedUtf8("\xF0\x9F\x90\x99\tx"), "\xF0\x9F\x90\x99 x");
    EXPECT_TRUE(TextRasterizer::rasterize("").value().empty());
    EXPECT_TRUE(TextRasterizer::rasterize(" \n ").value().empty());
}

TEST(CompositionLoad, InputKeysKeepHeaderOrderWithPortTypes) {
    auto composition = Composition::compositionWithFile(dataPath("inputs.qtz"));
    const std::vector<std::string> expected = {"title",  "enabled", "trigger", "mode",  "speed",
                                               "centre", "tint",    "picture", "sound", "spectrum"};
    EXPECT_EQ(composition->inputKeys(), expected);
    const PlistDict attributes = composition->attributes();
    const auto typeOf = [&](const char* key) {
        return attributes.find(key)->asDict()->find("QCPortAttributeTypeKey")->stringValue();
    };
    // The constants read as their own names: a caller may spell them out.
    EXPECT_EQ(typeOf("title"), "QCPortTypeString");
    EXPECT_EQ(typeOf("enabled"), "QCPortTypeBoolean");
    EXPECT_EQ(typeOf("trigger"), "QCPortTypeBoolean");
    EXPECT_EQ(typeOf("mode"), "QCPortTypeIndex");
    EXPECT_EQ(typeOf("speed"), "QCPortTypeNumber");
    for (const char* other : {"centre", "tint", "picture", "sound", "spectrum"}) {
        const std::string type = typeOf(other);
        for (const char* common :
             {"QCPortTypeString", "QCPortTypeBoolean", "QCPortTypeIndex", "QCPortTypeNumber"})
            EXPECT_NE(type, common) << other;
    }
    const PlistDict& speed = *attributes.find("speed")->asDict();
    EXPECT_EQ(speed.find(QCPortAttributeNameKey)->stringValue(), "Speed");
    EXPECT_EQ(speed.find(QCPortAttributeDefaultValueKey)->doubleValue(), 0.5);
    EXPECT_EQ(speed.find(QCPortAttributeMaximumValueKey)->doubleValue(), 10.0);
    const PlistDict& mode = *attributes.find("mode")->asDict();
    EXPECT_EQ(mode.find(QCPortAttributeMenuItemsKey)->asArray()->size(), 3u);
}

TEST(CompositionLoad, ReadsVersionOneAndVertexShaderDocuments) {
    LUMIVANE_REQUIRE_GL();
    auto counter = Composition::compositionWithFile(dataPath("counter.qtz"));
    ASSERT_EQ(counter->passes().size(), 2u);
    EXPECT_TRUE(counter->passes()[0].persistent);
    EXPECT_TRUE(counter->passes()[0].floatTarget);
    auto vertex = Composition::compositionWithFile(dataPath("vertex.qtz"));
    EXPECT_EQ(vertex->vertexSource().file, dataPath("vertex.vs"));
}

// Every composition shipped with the programs loads and renders, with and
// without supersampling.
TEST(BundledCompositions, LoadAndRender) {
    LUMIVANE_REQUIRE_GL();
    const auto folder = std::filesystem::path(LUMIVANE_SOURCE_DIR) / "resources/compositions";
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".qtz") continue;
        ++count;
        SCOPED_TRACE(entry.path().string());
        auto composition = Composition::compositionWithFile(entry.path().string());
        OffscreenRenderer renderer(64.5f, 48, ColorSpace::GenericRGB, composition);
        ASSERT_TRUE(renderer.createAccumulator(32, 24));
        renderer.clearAccumulator();
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(renderer.renderAtTime(i / 30.0, nullptr));
            renderer.accumulate(1.0f / 3);
        }
        const ImageRGBA8 image = renderer.accumulatorImage();
        EXPECT_EQ(image.pixels.size(), 32u * 24 * 4);
        EXPECT_EQ(renderer.createSnapshotImage().width, 65);
    }
    EXPECT_GE(count, 6);
    auto idle = Composition::compositionWithFile((folder / "qcidle.qtz").string());
    const PlistDict attributes = idle->attributes();
    EXPECT_EQ(attributes.find("dropInText")->asDict()->find(QCPortAttributeTypeKey)->stringValue(),
              QCPortTypeString);
}

}  // namespace
}  // namespace lumivane
