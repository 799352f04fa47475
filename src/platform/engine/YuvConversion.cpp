#include "platform/engine/YuvConversion.h"

#include <array>
#include <cmath>
#include <string>

#include "platform/engine/ColourTarget.h"
#include "platform/engine/ShaderProgram.h"

namespace lumivane {
namespace {

const char* kVertex =
    "#version 330 core\n"
    "in vec2 isf_VertPos;\n"
    "void main() { gl_Position = vec4(isf_VertPos, 0.0, 1.0); }\n";

// Shared by the passes, compiled for one layout: BITS, SHIFT_X, SHIFT_Y,
// FULL_RANGE, TAPS and N, the samples each texel holds (4 where the rows
// divide, which spares a software rasterizer three quarters of its per-pixel
// work), are defined ahead of it. Values are carried in 1/128ths of an 8-bit
// code between steps, and chroma is averaged over the pixels it covers
// across, as swscale does for RGBA input.
const char* kCommon =
    "uniform sampler2D source;\n"
    "uniform ivec2 size;\n"
    "uniform bool bottomUp;\n"
    "uniform vec3 weights;\n"
    "const int SHIFT = 15 - BITS;\n"
    "vec3 overBlack(int x, int y) {\n"
    "    ivec2 at = ivec2(x, bottomUp ? size.y - 1 - y : y);\n"
    "    vec4 c = floor(clamp(texelFetch(source, at, 0), 0.0, 1.0) * 255.0 + 0.5);\n"
    "    return floor(c.rgb * (c.a / 255.0) + 0.5);\n"
    "}\n"
    "int fixed7(float value) { return int(floor(value * 128.0 + 0.5)); }\n"
    "uint limit(int value) { return uint(clamp(value, 0, (1 << BITS) - 1)); }\n"
    "uint fromFixed7(int value) { return limit((value + (1 << (SHIFT - 1))) >> SHIFT); }\n"
    "ivec2 chromaFixed(int x, int y) {\n"
    "#if SHIFT_X == 1\n"
    "    vec3 rgb = (overBlack(2 * x, y) + overBlack(2 * x + 1, y)) * 0.5;\n"
    "#else\n"
    "    vec3 rgb = overBlack(x, y);\n"
    "#endif\n"
    "    float luma = dot(weights, rgb);\n"
    "    vec2 c = vec2((rgb.b - luma) / (2.0 * (1.0 - weights.b)),\n"
    "                  (rgb.r - luma) / (2.0 * (1.0 - weights.r)));\n"
    "    vec2 v = 128.0 + c * ((FULL_RANGE ? 255.0 : 224.0) / 255.0);\n"
    "    return ivec2(fixed7(v.x), fixed7(v.y));\n"
    "}\n";

// Y into the packed texture's first `height` rows.
const char* kLuma =
    "out uvec4 code;\n"
    "void main() {\n"
    "    int x = int(gl_FragCoord.x) * N, y = int(gl_FragCoord.y);\n"
    "    for (int k = 0; k < N; ++k) {\n"
    "        float luma = dot(weights, overBlack(x + k, y));\n"
    "        code[k] = fromFixed7(fixed7(FULL_RANGE ? luma : 16.0 + luma * (219.0 / 255.0)));\n"
    "    }\n"
    "}\n";

// Vertically subsampled chroma first: U and V of every source row, once,
// U in the high half of each word.
const char* kChromaRows =
    "out ivec4 chroma;\n"
    "void main() {\n"
    "    int x = int(gl_FragCoord.x) * N, y = int(gl_FragCoord.y);\n"
    "    for (int k = 0; k < N; ++k) {\n"
    "        ivec2 c = chromaFixed(x + k, y);\n"
    "        chroma[k] = (c.x << 16) | c.y;\n"
    "    }\n"
    "}\n";

// The rows after Y: each holds 2^SHIFT_X chroma rows, U's rows then V's, so
// that reading the texture row by row gives the planes back to back.
// Vertically subsampled chroma is filtered from the chroma rows by TAPS (in
// 1/4096ths) over eight rows.
const char* kChroma =
    "uniform isampler2D rows;\n"
    "out uvec4 code;\n"
    "void main() {\n"
    "    ivec2 chroma = size >> ivec2(SHIFT_X, SHIFT_Y);\n"
    "    int texels = chroma.x / N;\n"
    "    int tx = int(gl_FragCoord.x), r = int(gl_FragCoord.y) - size.y;\n"
    "    bool second = SHIFT_X == 1 && tx >= texels;\n"
    "    int g = (r << SHIFT_X) + (second ? 1 : 0);\n"
    "    int x = second ? tx - texels : tx;\n"
    "    bool v = g >= chroma.y;\n"
    "    int y = v ? g - chroma.y : g;\n"
    "#if SHIFT_Y == 0\n"
    "    for (int k = 0; k < N; ++k) {\n"
    "        ivec2 c = chromaFixed(x * N + k, y);\n"
    "        code[k] = fromFixed7(v ? c.y : c.x);\n"
    "    }\n"
    "#else\n"
    "    const int taps[8] = int[8](TAPS);\n"
    "    ivec4 sum = ivec4(0);\n"
    "    for (int j = 0; j < 8; ++j) {\n"
    "        ivec4 both = texelFetch(rows, ivec2(x, clamp(2 * y - 3 + j, 0, size.y - 1)), 0);\n"
    "        sum += (v ? both & 0xFFFF : both >> 16) * taps[j];\n"
    "    }\n"
    "    for (int k = 0; k < N; ++k)\n"
    "        code[k] = limit((sum[k] + (1 << (SHIFT + 11))) >> (SHIFT + 12));\n"
    "#endif\n"
    "}\n";

// swscale's bicubic kernel (B = 0, C = 0.6) at a 2:1 reduction, the taps
// centred between two source rows, rounded to 1/4096 with the error carried
// on as swscale rounds its filters.
std::array<GLint, 8> halvingTaps() {
    const auto kernel = [](double x) {
        constexpr double c = 0.6;
        x = std::fabs(x);
        if (x < 1) return (2 - c) * x * x * x - (3 - c) * x * x + 1;
        if (x < 2) return -c * x * x * x + 5 * c * x * x - 8 * c * x + 4 * c;
        return 0.0;
    };
    std::array<GLint, 8> taps{};
    double carried = 0;
    for (int j = 0; j < 8; ++j) {
        const double value = kernel((j - 3.5) / 2) / 2 * 4096 + carried;
        taps[size_t(j)] = GLint(std::lround(value));
        carried = value - taps[size_t(j)];
    }
    return taps;
}

}  // namespace

bool YuvConversion::supports(const YuvLayout& layout, int width, int height) {
    const bool shifts = layout.chromaShiftX >= 0 && layout.chromaShiftX <= 1 &&
                        layout.chromaShiftY >= 0 && layout.chromaShiftY <= layout.chromaShiftX;
    // Odd sizes would need swscale's handling of a half-covered chroma sample.
    const bool whole = width > 0 && height > 0 && width % (1 << layout.chromaShiftX) == 0 &&
                       height % (1 << layout.chromaShiftY) == 0;
    // 8 and 10 bits are what the encoders take, and what the rounding follows.
    return shifts && whole && (layout.bits == 8 || layout.bits == 10);
}

int YuvConversion::samplesPerTexel(const YuvLayout& layout, int width) {
    return (width >> layout.chromaShiftX) % 4 == 0 ? 4 : 1;
}

int YuvConversion::packedRows(const YuvLayout& layout, int height) {
    const int chromaRows = 2 * (height >> layout.chromaShiftY);
    const int perRow = 1 << layout.chromaShiftX;
    return height + (chromaRows + perRow - 1) / perRow;
}

namespace {

bool makeIntegerTarget(GLTexture& texture, GLFramebuffer& framebuffer, GLenum format, GLenum type,
                       int width, int height) {
    const bool four = format == GL_RGBA8UI || format == GL_RGBA16UI || format == GL_RGBA32I;
    const GLenum layout = four ? GL_RGBA_INTEGER : GL_RED_INTEGER;
    return makeTarget(texture, framebuffer, TargetFormat{format, layout, type}, width, height);
}

void drawPass(GLuint program, int width, int height, bool bottomUp, const YuvLayout& layout) {
    glUseProgram(program);
    glUniform2i(glGetUniformLocation(program, "size"), width, height);
    glUniform1i(glGetUniformLocation(program, "bottomUp"), bottomUp ? 1 : 0);
    glUniform3f(glGetUniformLocation(program, "weights"), layout.kr, 1.0f - layout.kr - layout.kb,
                layout.kb);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

}  // namespace

// The passes are compiled for the layout, so that the shaders branch on
// nothing but the pixel's place; a render keeps one layout.
Result<void> YuvConversion::buildPrograms(const YuvLayout& layout, int perTexel) {
    if (m_luma && m_programLayout == layout && m_perTexel == perTexel) return {};
    std::string header = "#version 330 core\n#define N " + std::to_string(perTexel) +
                         "\n#define BITS " + std::to_string(layout.bits) + "\n#define SHIFT_X " +
                         std::to_string(layout.chromaShiftX) + "\n#define SHIFT_Y " +
                         std::to_string(layout.chromaShiftY) + "\n#define FULL_RANGE " +
                         (layout.fullRange ? "true" : "false") + "\n#define TAPS ";
    const auto taps = halvingTaps();
    for (size_t j = 0; j < taps.size(); ++j)
        header += std::to_string(taps[j]) + (j + 1 < taps.size() ? ", " : "\n");
    header += kCommon;
    GLProgram passes[3];
    const char* bodies[3] = {kLuma, kChromaRows, kChroma};
    for (int i = 0; i < 3; ++i) {
        auto program = ShaderProgram::build({"yuv conversion", kVertex, 0},
                                            {"yuv conversion", header + bodies[i], 0});
        if (!program) return Error{program.error()};
        passes[i] = std::move(program.value());
        glUseProgram(passes[i].id());
        glUniform1i(glGetUniformLocation(passes[i].id(), "source"), 0);
        glUniform1i(glGetUniformLocation(passes[i].id(), "rows"), 1);
    }
    m_luma = std::move(passes[0]);
    m_chromaRows = std::move(passes[1]);
    m_chroma = std::move(passes[2]);
    m_programLayout = layout;
    m_perTexel = perTexel;
    if (!m_quad.valid()) m_quad = FullScreenQuad::create();
    return {};
}

Result<void> YuvConversion::prepare(int width, int height, const YuvLayout& layout) {
    const int perTexel = samplesPerTexel(layout, width);
    if (auto built = buildPrograms(layout, perTexel); !built) return built;
    const int texels = width / perTexel;
    const int rows = packedRows(layout, height);
    const bool wide = layout.bits > 8;
    const int chromaTexels = (width >> layout.chromaShiftX) / perTexel;
    const bool needsRows = layout.chromaShiftY > 0;
    const bool packedFits = m_packed && m_texels == texels && m_rows == rows && m_wide == wide;
    const bool rowsFit =
        !needsRows || (m_rowsTexture && m_rowsTexels == chromaTexels && m_rowsHeight == height);
    if (packedFits && rowsFit) return {};
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (rows > maxSize)
        return Error{"the GPU cannot hold the " + size + " frame's planes in one texture"};
    if (!packedFits) {
        m_texels = m_rows = 0;
        const GLenum format =
            perTexel == 4 ? (wide ? GL_RGBA16UI : GL_RGBA8UI) : (wide ? GL_R16UI : GL_R8UI);
        if (!makeIntegerTarget(m_packed, m_framebuffer, format,
                               wide ? GL_UNSIGNED_SHORT : GL_UNSIGNED_BYTE, texels, rows))
            return Error{"cannot make a target for the " + size + " frame's planes"};
        m_texels = texels;
        m_rows = rows;
        m_wide = wide;
    }
    if (!rowsFit) {
        m_rowsTexels = m_rowsHeight = 0;
        if (!makeIntegerTarget(m_rowsTexture, m_rowsFramebuffer, GL_RGBA32I, GL_INT, chromaTexels,
                               height))
            return Error{"cannot make a target for the " + size + " frame's chroma"};
        m_rowsTexels = chromaTexels;
        m_rowsHeight = height;
    }
    return {};
}

Result<void> YuvConversion::convert(GLuint source, int width, int height, bool bottomUp,
                                    const YuvLayout& layout) {
    if (!supports(layout, width, height))
        return Error{"the GPU does not convert " + std::to_string(width) + " x " +
                     std::to_string(height) + " frames to this layout"};
    if (auto ready = prepare(width, height, layout); !ready) return ready;
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, source);
    m_quad.bind();
    if (layout.chromaShiftY > 0) {
        glBindFramebuffer(GL_FRAMEBUFFER, m_rowsFramebuffer.id());
        glViewport(0, 0, m_rowsTexels, m_rowsHeight);
        drawPass(m_chromaRows.id(), width, height, bottomUp, layout);
        glActiveTexture(GL_TEXTURE1);
        glBindTexture(GL_TEXTURE_2D, m_rowsTexture.id());
        glActiveTexture(GL_TEXTURE0);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer.id());
    glViewport(0, 0, m_texels, height);
    drawPass(m_luma.id(), width, height, bottomUp, layout);
    glViewport(0, height, m_texels, m_rows - height);
    drawPass(m_chroma.id(), width, height, bottomUp, layout);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, m_framebuffer.id());
    return {};
}

}  // namespace lumivane
