// Compositions and images built to hurt the loader and the renderer: each
// must fail with a message that says what is wrong, or load and draw.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <OpenImageIO/imageio.h>
#include <epoxy/gl.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "../../support/HostileDocuments.h"
#include "EngineTestSupport.h"
#include "platform/engine/Composition.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/OffscreenRenderer.h"
#include "platform/engine/TexturePixels.h"

namespace lumivane {
namespace {

namespace fs = std::filesystem;

class Scratch {
public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "lumivane-hostile-XXXXXX").string();
        if (mkdtemp(pattern.data())) m_path = pattern;
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(file(name), std::ios::binary) << text;
        return file(name);
    }

private:
    std::string m_path;
};

std::string loadError(const std::string& path) {
    try {
        Composition::compositionWithFile(path);
    } catch (const EngineError& error) {
        return error.what();
    }
    return "";
}

const char* const kBody = "\nvoid main() { gl_FragColor = vec4(1.0); }\n";

std::string document(const std::string& header) {
    return "/*" + header + "*/" + kBody;
}

void writeImage(const std::string& path, int width, int height, uint8_t value) {
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->open(path, OIIO::ImageSpec(width, height, 4, OIIO::TypeDesc::UINT8)));
    std::vector<uint8_t> pixels(size_t(width) * height * 4, value);
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, pixels.data()));
    ASSERT_TRUE(out->close());
}

// A PNG whose header claims width x height; its pixels are never reached.
std::string pngClaiming(uint32_t width, uint32_t height) {
    const auto crc = [](const std::string& bytes) {
        uint32_t c = 0xFFFFFFFFu;
        for (unsigned char b : bytes) {
            c ^= b;
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        }
        return c ^ 0xFFFFFFFFu;
    };
    const auto be = [](uint32_t v) {
        return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    const auto chunk = [&](const std::string& type, const std::string& data) {
        return be(uint32_t(data.size())) + type + data + be(crc(type + data));
    };
    const std::string header = be(width) + be(height) + std::string("\x08\x06\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) +
           chunk("IDAT", std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + chunk("IEND", "");
}

TEST(HostileComposition, RefusedWithAMessageThatSaysWhy) {
    Scratch dir;
    fs::create_directory(dir.file("folder.qtz"));
    ASSERT_EQ(mkfifo(dir.file("pipe.qtz").c_str(), 0600), 0);
    fs::create_symlink(dir.file("b.qtz"), dir.file("a.qtz"));
    fs::create_symlink(dir.file("a.qtz"), dir.file("b.qtz"));
    fs::resize_file(dir.write("huge.qtz", document("{}")), 17 * 1024 * 1024);
    dir.write("huge.png", pngClaiming(60000, 60000));
    const std::string labels = R"({"INPUTS": [{"NAME": "m", "TYPE": "long", "LABELS": )" +
                               test::deepJsonArray(100000) + "}]}";
    struct Case {
        std::string path;
        std::string expected;
    };
    const Case cases[] = {
        {dir.write("labels.qtz", document(labels)), "nests arrays or objects more than 512 deep"},
        {dir.write("deep.qtz", document(test::deepJsonArray(513))), "more than 512 deep"},
        {dir.file("folder.qtz"), "is not a regular file but a directory"},
        {dir.file("pipe.qtz"), "is not a regular file but a FIFO"},
        {dir.file("a.qtz"), "is a loop of symbolic links"},
        {dir.file("huge.qtz"), "is larger than 16 MiB"},
        {"/dev/zero", "is not a regular file but a device"},
        {dir.file("absent.qtz"), "no such file"},
        {dir.write("void.qtz", document(R"({"INPUTS": [{"NAME": "void", "TYPE": "float"}]})")),
         "input \"void\" is a name GLSL keeps for itself"},
        {dir.write("zero.qtz", document(R"({"IMPORTED": {"z": {"PATH": "/dev/zero"}}})")),
         "\"/dev/zero\": is not a regular file but a device"},
        {dir.write("bomb.qtz", document(R"({"IMPORTED": {"z": {"PATH": "huge.png"}}})")),
         "image of 60000 x 60000 would decode to more than 1 GiB"},
    };
    for (const Case& c : cases) {
        const std::string error = loadError(c.path);
        EXPECT_EQ(error.rfind("\"" + c.path + "\": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.path << ": " << error;
    }
}

TEST(HostileComposition, AcceptedWhereOnlyItsLooksAreOdd) {
    Scratch dir;
    const std::string quoted = R"({"DESCRIPTION": ")" + std::string(100000, '[') + R"("})";
    const std::string paths[] = {
        dir.write("bom.qtz", "\xEF\xBB\xBF" + document(R"({"DESCRIPTION": "marked"})")),
        dir.write("quoted.qtz", document(quoted)),
        dir.write("nested.qtz", document(R"({"X": )" + test::deepJsonArray(500) + "}")),
    };
    for (const std::string& path : paths) EXPECT_EQ(loadError(path), "") << path;
    EXPECT_EQ(Composition::compositionWithFile(paths[0])->description(), "marked");
}

TEST(TexturePixelsScaling, AveragesDownToTheLargestSide) {
    TexturePixels wide;
    wide.width = 8;
    wide.height = 2;
    for (int i = 0; i < 16; ++i) {
        const uint8_t v = i % 2 ? 200 : 100;
        wide.bytes.insert(wide.bytes.end(), {v, v, v, 255});
    }
    const TexturePixels half = scaledToFit(wide, 4);
    EXPECT_EQ(half.width, 4);
    EXPECT_EQ(half.height, 1);
    const uint8_t mean = 150;
    EXPECT_EQ(half.bytes, (std::vector<uint8_t>{mean, mean, mean, 255, mean, mean, mean, 255, mean,
                                                mean, mean, 255, mean, mean, mean, 255}));
    const TexturePixels same = scaledToFit(wide, 8);
    EXPECT_EQ(same.bytes, wide.bytes);
}

class HostileRender : public ::testing::Test {
protected:
    void SetUp() override { LUMIVANE_REQUIRE_GL(); }
};

// A target the GPU could not hold used to draw black and report success.
TEST_F(HostileRender, APassTargetAskingForGigabytesFailsBeforeTheFirstFrame) {
    Scratch dir;
    const std::string path =
        dir.write("big.qtz", document(R"({"PASSES": [{"TARGET": "big", "WIDTH": "100000", )"
                                      R"("HEIGHT": "100000", "FLOAT": true}, {}]})"));
    try {
        OffscreenRenderer renderer(4, 4, ColorSpace::GenericRGB,
                                   Composition::compositionWithFile(path), TargetFormat::RGBA8);
        ADD_FAILURE() << "a renderer was made";
    } catch (const EngineError& error) {
        const std::string what = error.what();
        EXPECT_NE(what.find("cannot draw into \"big\""), std::string::npos) << what;
        EXPECT_NE(what.find("more than the 2 GiB a target may use"), std::string::npos) << what;
    }
}

// A render that fails draws nothing, wherever it was to draw: a blur sample
// shows the render before it, and the first of a frame shows the clear.
TEST_F(HostileRender, AFailedRenderLeavesWhatTheRendererShowedBefore) {
    Scratch dir;
    const std::string path =
        dir.write("grow.qtz", R"(/*{"INPUTS": [{"NAME": "side", "TYPE": "float", "DEFAULT": 4}],
"PASSES": [{"TARGET": "t", "WIDTH": "$side", "HEIGHT": "$side", "FLOAT": true}, {}]}*/
void main() { gl_FragColor = vec4(TIME, 0.5, 0.25, 1.0); })");
    OffscreenRenderer renderer(4, 4, ColorSpace::GenericRGB, Composition::compositionWithFile(path),
                               TargetFormat::RGBA8);
    ASSERT_TRUE(renderer.createAccumulator(4, 4));
    renderer.clear();
    renderer.clearAccumulator();
    ASSERT_TRUE(renderer.renderAtTime(0.75, nullptr));
    const ImageRGBA8 drawn = renderer.createSnapshotImage();
    renderer.accumulate(0.5f);
    renderer.setValue(PlistValue(100000.0), "side");
    EXPECT_FALSE(renderer.renderAtTime(0.25, nullptr));
    EXPECT_EQ(renderer.createSnapshotImage().pixels, drawn.pixels);
    renderer.accumulate(0.5f);
    EXPECT_EQ(renderer.accumulatorImage().pixels, drawn.pixels);

    renderer.clear();
    EXPECT_FALSE(renderer.renderAtTime(0.5, nullptr));
    EXPECT_EQ(renderer.createSnapshotImage().pixels, std::vector<uint8_t>(4 * 4 * 4, 0));
}

// An image wider than the largest texture would sample as black; it is
// drawn scaled down instead.
TEST_F(HostileRender, AnImageWiderThanTheLargestTextureIsDrawnScaledDown) {
    Scratch dir;
    OffscreenRenderer probe(1, 1, ColorSpace::GenericRGB,
                            Composition::compositionWithFile(dir.write("p.qtz", document("{}"))),
                            TargetFormat::RGBA8);
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    ASSERT_GT(maxSide, 0);
    writeImage(dir.file("wide.png"), maxSide + 1, 1, 255);
    const std::string path =
        dir.write("wide.qtz", R"(/*{"IMPORTED": {"pic": {"PATH": "wide.png"}}}*/
void main() { gl_FragColor = IMG_NORM_PIXEL(pic, vec2(0.5, 0.5)); })");
    OffscreenRenderer renderer(2, 2, ColorSpace::GenericRGB, Composition::compositionWithFile(path),
                               TargetFormat::RGBA8);
    ASSERT_TRUE(renderer.renderAtTime(0, nullptr));
    const ImageRGBA8 image = renderer.createSnapshotImage();
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_EQ(image.pixels[0], 255);
    EXPECT_EQ(image.pixels[3], 255);
}

TEST_F(HostileRender, SizesThatAreNotPositiveNumbersSaySo) {
    Scratch dir;
    const std::string path = dir.write("p.qtz", document("{}"));
    const std::pair<float, const char*> cases[] = {
        {0.0f, "a size must be positive"},
        {-3.0f, "a size must be positive"},
        {std::nanf(""), "not a number"},
    };
    for (const auto& [side, expected] : cases) {
        try {
            OffscreenRenderer renderer(side, 4, ColorSpace::GenericRGB,
                                       Composition::compositionWithFile(path), TargetFormat::RGBA8);
            ADD_FAILURE() << side;
        } catch (const EngineError& error) {
            EXPECT_NE(std::string(error.what()).find(expected), std::string::npos) << error.what();
        }
    }
}

}  // namespace
}  // namespace lumivane
