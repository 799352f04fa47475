// Documents written for compilers looser than Mesa's GLSL 3.30: each fails
// the strict compile, draws after the lenient second try, and a document
// that fails both is reported with the strict compiler's error.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "EngineTestSupport.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/LenientGlsl.h"
#include "platform/engine/OffscreenRenderer.h"

namespace lumivane {
namespace {

namespace fs = std::filesystem;

class LenientShader : public ::testing::Test {
protected:
    void SetUp() override {
        LUMIVANE_REQUIRE_GL();
        m_dir = fs::temp_directory_path() / ("lumivane-lenient-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    std::string write(const std::string& name, const std::string& body) const {
        const std::string path = (m_dir / name).string();
        std::ofstream(path) << "/*{ \"INPUTS\": [] }*/\n" << body;
        return path;
    }

private:
    fs::path m_dir;
};

// The first pixel's red and green.
std::array<float, 2> firstPixel(const std::string& path) {
    OffscreenRenderer renderer(2, 2, ColorSpace::GenericRGB, Composition::compositionWithFile(path),
                               TargetFormat::RGBAFloat);
    EXPECT_TRUE(renderer.renderAtTime(0, nullptr));
    const ImageRGBAF image = renderer.createSnapshotImageFloat();
    return {image.pixels[0], image.pixels[1]};
}

TEST_F(LenientShader, HabitsOfLooserCompilersStillDraw) {
    struct Case {
        const char* name;
        const char* body;
        float red, green;
    };
    const Case cases[] = {
        {"return-int.qtz",
         "float unit() { return 1; }\n"
         "void main() { gl_FragColor = vec4(unit() * 0.5, 0.25, 0.0, 1.0); }\n",
         0.5f, 0.25f},
        {"uint-from-int.qtz",
         "void main() {\n"
         "    uint mask = 6;\n"
         "    int bit = 2;\n"
         "    float on = float(mask & bit) / 2.0;\n"
         "    gl_FragColor = vec4(on, 0.0, 0.0, 1.0);\n"
         "}\n",
         1.0f, 0.0f},
        {"float-bit-operands.qtz",
         "void main() {\n"
         "    float a = 3.0;\n"
         "    float flags = float(a & 1) + (a | 4.0) * 0.0;\n"
         "    gl_FragColor = vec4(flags, float(6 ^ 4) / 8.0, 0.0, 1.0);\n"
         "}\n",
         1.0f, 0.25f},
        {"int-argument.qtz",
         "float quarter(float x) { return x * 0.25; }\n"
         "void main() { gl_FragColor = vec4(mod(5.0, 2), quarter(1), 0.0, 1.0); }\n",
         1.0f, 0.25f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::array<float, 2> pixel{};
        try {
            pixel = firstPixel(write(c.name, c.body));
        } catch (const EngineError& error) {
            ADD_FAILURE() << error.what();
            continue;
        }
        EXPECT_FLOAT_EQ(pixel[0], c.red);
        EXPECT_FLOAT_EQ(pixel[1], c.green);
    }
}

TEST_F(LenientShader, AFailureOfBothTriesReportsTheStrictError) {
    const std::string path = write("float-and.qtz",
                                   "void main() {\n"
                                   "    float a = 3.0;\n"
                                   "    gl_FragColor = vec4(a & missing, 0.0, 0.0, 1.0);\n"
                                   "}\n");
    try {
        OffscreenRenderer renderer(2, 2, ColorSpace::GenericRGB,
                                   Composition::compositionWithFile(path), TargetFormat::RGBA8);
        ADD_FAILURE() << "a float operand of & compiled";
    } catch (const EngineError& error) {
        const std::string what = error.what();
        EXPECT_EQ(what.rfind("\"" + path + "\": line 4: error:", 0), 0u) << what;
    }
}

TEST(LenientGlsl, CastsOnlyTheBitOperandsOfTheNamedLinesAndKeepsLineNumbers) {
    const std::string head = "#version 330 core\n";
    struct Case {
        const char* line;
        const char* lenient;
    };
    const Case cases[] = {
        {"float b = a & 1;", "float b = int(a) & int(1);"},
        {"x = f(a, 2.0) | v.x;", "x = int(f(a, 2.0)) | int(v.x);"},
        {"x = (a + b) ^ -c[i];", "x = int((a + b)) ^ int(-c[i]);"},
        {"x = a & b & c;", "x = int(a) & int(int(b)) & int(c);"},
        {"if (a && b || c) m &= 2;", "if (a && b || c) m &= 2;"},
    };
    for (const Case& c : cases) {
        const std::string text = head + "// first\n" + c.line + "\n" + c.line;
        EXPECT_EQ(lenientGlsl(text, {3}),
                  "#version 420 core\n// first\n" + std::string(c.lenient) + "\n" + c.line);
    }
    EXPECT_EQ(lenientGlsl("#version 410 core\nvoid main() {}\n", {}), "")
        << "only text of the strict version is made lenient";
    EXPECT_EQ(nonIntegerBitOperandLines("0:12(5): error: LHS of `&' must be an integer\n"
                                        "0:12(5): error: type mismatch\n"
                                        "0:40(9): error: RHS of `|' must be an integer\n"),
              (std::vector<int>{12, 40}));
}

}  // namespace
}  // namespace lumivane
