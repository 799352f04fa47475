#include "platform/engine/SampleAccumulator.h"

#include <cmath>
#include <string>

#include "platform/engine/FramebufferReadback.h"
#include "platform/engine/GLObjects.h"
#include "platform/engine/ShaderProgram.h"

namespace lumivane {
namespace {

const char* kVertex =
    "#version 330 core\n"
    "in vec2 isf_VertPos;\n"
    "void main() { gl_Position = vec4(isf_VertPos, 0.0, 1.0); }\n";

// Output pixel (x, r) holds the image's row r from the top; it covers the
// source rectangle [lo, hi) in top-down source pixels, weighted by the area
// each source pixel shares with it.
// FACTOR is defined ahead of this text: the whole-number ratio, or (0, 0).
const char* kAccumulate =
    "uniform sampler2D source;\n"
    "uniform vec2 ratio;\n"
    "uniform ivec2 sourceSize;\n"
    "uniform float weight;\n"
    "out vec4 color;\n"
    "vec4 premultiplied(ivec2 topDown) {\n"
    "    vec4 s = texelFetch(source, ivec2(topDown.x, sourceSize.y - 1 - topDown.y), 0);\n"
    "    return vec4(s.rgb * s.a, s.a);\n"
    "}\n"
    "void main() {\n"
    "    vec4 sum = vec4(0.0);\n"
    "    if (FACTOR.x > 0) {\n"
    "        ivec2 base = ivec2(gl_FragCoord.xy) * FACTOR;\n"
    "        for (int y = 0; y < FACTOR.y; ++y)\n"
    "            for (int x = 0; x < FACTOR.x; ++x) sum += premultiplied(base + ivec2(x, y));\n"
    "        color = sum * (weight / float(FACTOR.x * FACTOR.y));\n"
    "        return;\n"
    "    }\n"
    "    vec2 lo = floor(gl_FragCoord.xy) * ratio;\n"
    "    vec2 hi = lo + ratio;\n"
    "    ivec2 first = ivec2(floor(lo));\n"
    "    ivec2 last = min(ivec2(ceil(hi)) - 1, sourceSize - 1);\n"
    "    for (int y = first.y; y <= last.y; ++y) {\n"
    "        float wy = min(float(y + 1), hi.y) - max(float(y), lo.y);\n"
    "        if (wy <= 0.0) continue;\n"
    "        for (int x = first.x; x <= last.x; ++x) {\n"
    "            float wx = min(float(x + 1), hi.x) - max(float(x), lo.x);\n"
    "            if (wx > 0.0) sum += premultiplied(ivec2(x, y)) * (wx * wy);\n"
    "        }\n"
    "    }\n"
    "    color = sum * (weight / (ratio.x * ratio.y));\n"
    "}\n";

const char* kResolve =
    "#version 330 core\n"
    "uniform sampler2D source;\n"
    "out vec4 color;\n"
    "void main() {\n"
    "    vec4 s = texelFetch(source, ivec2(gl_FragCoord.xy), 0);\n"
    "    color = s.a > 0.0 ? vec4(s.rgb / s.a, s.a) : vec4(0.0);\n"
    "}\n";

bool makeTarget(GLTexture& texture, GLFramebuffer& framebuffer, GLenum format, int width,
                int height) {
    drainGLErrors();
    texture = GLTexture::create();
    glBindTexture(GL_TEXTURE_2D, texture.id());
    glTexImage2D(GL_TEXTURE_2D, 0, format, width, height, 0, GL_RGBA,
                 format == GL_RGBA8 ? GL_UNSIGNED_BYTE : GL_FLOAT, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    framebuffer = GLFramebuffer::create();
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture.id(), 0);
    const bool ok = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE &&
                    glGetError() == GL_NO_ERROR;
    if (!ok) {
        framebuffer.reset();
        texture.reset();
    }
    return ok;
}

}  // namespace

bool SampleAccumulator::buildPrograms() {
    if (m_resolveProgram) return true;
    const ShaderStageSource vertex{"accumulator", kVertex, 0};
    auto resolve = ShaderProgram::build(vertex, {"accumulator", kResolve, 0});
    if (!resolve) return false;
    m_resolveProgram = std::move(resolve.value());
    glUseProgram(m_resolveProgram.id());
    glUniform1i(glGetUniformLocation(m_resolveProgram.id(), "source"), 0);
    m_quad = FullScreenQuad::create();
    return true;
}

// One program per whole-number ratio, its loops fixed at compile time; made
// on first use and kept, as a render keeps its supersampling factor.
const SampleAccumulator::AccumulateProgram* SampleAccumulator::accumulateProgram(int factorX,
                                                                                 int factorY) {
    const auto key = std::make_pair(factorX, factorY);
    if (auto it = m_accumulatePrograms.find(key); it != m_accumulatePrograms.end()) {
        return &it->second;
    }
    const std::string text = "#version 330 core\n#define FACTOR ivec2(" + std::to_string(factorX) +
                             ", " + std::to_string(factorY) + ")\n" + kAccumulate;
    auto program = ShaderProgram::build({"accumulator", kVertex, 0}, {"accumulator", text, 0});
    if (!program) return nullptr;
    AccumulateProgram entry;
    entry.program = std::move(program.value());
    const GLuint id = entry.program.id();
    glUseProgram(id);
    glUniform1i(glGetUniformLocation(id, "source"), 0);
    entry.ratio = glGetUniformLocation(id, "ratio");
    entry.sourceSize = glGetUniformLocation(id, "sourceSize");
    entry.weight = glGetUniformLocation(id, "weight");
    return &m_accumulatePrograms.emplace(key, std::move(entry)).first->second;
}

bool SampleAccumulator::create(int width, int height) {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (width <= 0 || height <= 0 || width > maxSize || height > maxSize) return false;
    if (!buildPrograms()) return false;
    m_resolved8.reset();
    m_resolved8Framebuffer.reset();
    m_resolvedF.reset();
    m_resolvedFFramebuffer.reset();
    if (!makeTarget(m_sum, m_sumFramebuffer, GL_RGBA32F, width, height)) return false;
    m_width = width;
    m_height = height;
    clear();
    return true;
}

void SampleAccumulator::clear() {
    if (!valid()) return;
    glBindFramebuffer(GL_FRAMEBUFFER, m_sumFramebuffer.id());
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
}

void SampleAccumulator::accumulate(GLuint source, int sourceWidth, int sourceHeight, float weight) {
    if (!valid()) return;
    // Whole-number ratios (the usual supersampling) take the plain box loop.
    const bool whole = sourceWidth % m_width == 0 && sourceHeight % m_height == 0;
    const AccumulateProgram* program =
        accumulateProgram(whole ? sourceWidth / m_width : 0, whole ? sourceHeight / m_height : 0);
    if (!program) return;
    glBindFramebuffer(GL_FRAMEBUFFER, m_sumFramebuffer.id());
    glViewport(0, 0, m_width, m_height);
    glUseProgram(program->program.id());
    glUniform2f(program->ratio, float(double(sourceWidth) / m_width),
                float(double(sourceHeight) / m_height));
    glUniform2i(program->sourceSize, sourceWidth, sourceHeight);
    glUniform1f(program->weight, weight);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, source);
    m_quad.bind();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glBlendEquation(GL_FUNC_ADD);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glDisable(GL_BLEND);
}

// Resolves the sum into `target`, made in `format` on first use; false when
// there is no sum or the target cannot be made.
bool SampleAccumulator::resolveInto(GLTexture& target, GLFramebuffer& framebuffer, GLenum format) {
    if (!valid()) return false;
    if (!target && !makeTarget(target, framebuffer, format, m_width, m_height)) return false;
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
    glViewport(0, 0, m_width, m_height);
    glUseProgram(m_resolveProgram.id());
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, m_sum.id());
    m_quad.bind();
    glDisable(GL_BLEND);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    return true;
}

ImageRGBA8 SampleAccumulator::image() {
    if (!resolveInto(m_resolved8, m_resolved8Framebuffer, GL_RGBA8)) return {};
    return readFramebufferImage<ImageRGBA8>(m_width, m_height);
}

ImageRGBAF SampleAccumulator::imageFloat() {
    if (!resolveInto(m_resolvedF, m_resolvedFFramebuffer, GL_RGBA32F)) return {};
    return readFramebufferImage<ImageRGBAF>(m_width, m_height);
}

}  // namespace lumivane
