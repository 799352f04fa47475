#include "platform/engine/SampleAccumulator.h"

#include <cmath>
#include <string>
#include <vector>

#include "platform/engine/ColourTarget.h"
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
// Defined ahead of this text: FACTOR, the whole-number ratio or (0, 0);
// RESOLVE, whether this pass writes the finished image (straight alpha) rather
// than a weighted sample; HAS_SUM and HAS_SAMPLE, what a resolve adds up;
// HELD, how many batched samples it adds to the sum first, as SampleBatch's
// pass would have (GLSL 4.00 for `precise`).
const char* kPasses =
    "uniform sampler2D source;\n"
    "uniform sampler2D sum;\n"
    "uniform vec2 ratio;\n"
    "uniform ivec2 sourceSize;\n"
    "uniform float weight;\n"
    "out vec4 color;\n"
    "vec4 premultiplied(ivec2 topDown) {\n"
    "    vec4 s = texelFetch(source, ivec2(topDown.x, sourceSize.y - 1 - topDown.y), 0);\n"
    "    return vec4(s.rgb * s.a, s.a);\n"
    "}\n"
    "vec4 weightedSample() {\n"
    "    vec4 total = vec4(0.0);\n"
    "    if (FACTOR.x > 0) {\n"
    "        ivec2 base = ivec2(gl_FragCoord.xy) * FACTOR;\n"
    "        for (int y = 0; y < FACTOR.y; ++y)\n"
    "            for (int x = 0; x < FACTOR.x; ++x) total += premultiplied(base + ivec2(x, y));\n"
    "        return total * (weight / float(FACTOR.x * FACTOR.y));\n"
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
    "            if (wx > 0.0) total += premultiplied(ivec2(x, y)) * (wx * wy);\n"
    "        }\n"
    "    }\n"
    "    return total * (weight / (ratio.x * ratio.y));\n"
    "}\n"
    "#if HELD > 0\n"
    "uniform sampler2D held[HELD];\n"
    "uniform float heldWeights[HELD];\n"
    "vec4 heldSum() {\n"
    "    ivec2 at = ivec2(gl_FragCoord.xy);\n"
    "    ivec2 from = ivec2(at.x, textureSize(held[0], 0).y - 1 - at.y);\n"
    "    precise vec4 total;\n"
    "    for (int j = 0; j < HELD; ++j) {\n"
    "        vec4 h = texelFetch(held[j], from, 0);\n"
    "        precise vec4 term = vec4(h.rgb * h.a, h.a) * heldWeights[j];\n"
    "        if (j == 0 && !bool(HAS_SUM)) total = term;\n"
    "        else if (j == 0) total = texelFetch(sum, at, 0) + term;\n"
    "        else total = total + term;\n"
    "    }\n"
    "    return total;\n"
    "}\n"
    "#endif\n"
    "void main() {\n"
    "#if RESOLVE\n"
    "    vec4 s = vec4(0.0);\n"
    "#if HELD > 0\n"
    "    s = heldSum();\n"
    "#elif HAS_SUM\n"
    "    s += texelFetch(sum, ivec2(gl_FragCoord.xy), 0);\n"
    "#endif\n"
    "#if HAS_SAMPLE\n"
    "    s += weightedSample();\n"
    "#endif\n"
    "    color = s.a > 0.0 ? vec4(s.rgb / s.a, s.a) : vec4(0.0);\n"
    "#else\n"
    "    color = weightedSample();\n"
    "#endif\n"
    "}\n";

// Texture units of the batched samples a resolve adds; 0 and 1 are the source and the sum.
constexpr int kHeldUnit = 2;

}  // namespace

// One program per pass kind and whole-number ratio, its loops fixed at
// compile time; made on first use and kept, as a render keeps its
// supersampling factor.
const SampleAccumulator::PassProgram* SampleAccumulator::passProgram(const PassKind& kind) {
    if (auto it = m_programs.find(kind); it != m_programs.end()) return &it->second;
    const auto define = [](const char* name, int value) {
        return "#define " + std::string(name) + " " + std::to_string(value) + "\n";
    };
    const std::string text =
        std::string(kind.held > 0 ? "#version 400 core\n" : "#version 330 core\n") +
        "#define FACTOR ivec2(" + std::to_string(kind.factorX) + ", " +
        std::to_string(kind.factorY) + ")\n" + define("RESOLVE", kind.resolve) +
        define("HAS_SUM", kind.hasSum) + define("HAS_SAMPLE", kind.hasSample) +
        define("HELD", kind.held) + kPasses;
    auto program = ShaderProgram::build({"accumulator", kVertex, 0}, {"accumulator", text, 0});
    if (!program) return nullptr;
    PassProgram entry;
    entry.program = std::move(program.value());
    const GLuint id = entry.program.id();
    glUseProgram(id);
    glUniform1i(glGetUniformLocation(id, "source"), 0);
    glUniform1i(glGetUniformLocation(id, "sum"), 1);
    entry.ratio = glGetUniformLocation(id, "ratio");
    entry.sourceSize = glGetUniformLocation(id, "sourceSize");
    entry.weight = glGetUniformLocation(id, "weight");
    for (int j = 0; j < kind.held; ++j) {
        const std::string name = "held[" + std::to_string(j) + "]";
        glUniform1i(glGetUniformLocation(id, name.c_str()), kHeldUnit + j);
    }
    entry.heldWeights = glGetUniformLocation(id, "heldWeights");
    return &m_programs.emplace(kind, std::move(entry)).first->second;
}

bool SampleAccumulator::create(int width, int height) {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (width <= 0 || height <= 0 || width > maxSize || height > maxSize) return false;
    if (!m_quad.valid()) m_quad = FullScreenQuad::create();
    m_resolved8.reset();
    m_resolved8Framebuffer.reset();
    m_resolvedF.reset();
    m_resolvedFFramebuffer.reset();
    m_nextSum.reset();
    m_nextSumFramebuffer.reset();
    if (!makeColourTarget(m_sum, m_sumFramebuffer, GL_RGBA32F, width, height)) return false;
    m_batchable = true;
    m_width = width;
    m_height = height;
    clear();
    return true;
}

void SampleAccumulator::clear() {
    m_summed = 0;
    m_pending.reset();
    m_batch.clear();
}

void SampleAccumulator::accumulate(GLuint source, GLuint sourceFramebuffer, GLint sourceFormat,
                                   int sourceWidth, int sourceHeight, float weight) {
    if (!valid()) return;
    flush();
    m_pending = Sample{source, sourceFramebuffer, sourceFormat, sourceWidth, sourceHeight, weight};
}

// The batch's pass writes the sum's successor once there is a sum; made before
// the first sample is held, and only for renders that batch. Without room
// for it each sample takes a pass of its own.
bool SampleAccumulator::canBatch(int width, int height) {
    if (!m_batchable || width != m_width || height != m_height) return false;
    if (!m_nextSum &&
        !makeColourTarget(m_nextSum, m_nextSumFramebuffer, GL_RGBA32F, m_width, m_height))
        m_batchable = false;
    return m_batchable;
}

bool SampleAccumulator::holdInBatch(const Sample& sample) {
    if (!canBatch(sample.width, sample.height)) return false;
    if (!m_batch.hasRoom()) drawBatch();
    return m_batch.hold(sample.framebuffer, sample.width, sample.height, sample.format,
                        sample.weight);
}

int SampleAccumulator::lendSlot(int width, int height, GLint format) {
    if (!valid() || !canBatch(width, height)) return -1;
    return m_batch.lend(m_width, m_height, format);
}

void SampleAccumulator::accumulateLent(int slot, float weight) {
    if (!valid()) return;
    flush();
    // The same render accumulated again takes no new slot, but a place in the pass.
    if (m_batch.count() >= m_batch.capacity()) drawBatch();
    m_batch.holdLent(slot, weight);
}

// Adds the held samples to the sum. The first batch writes the sum; later
// ones read it and write its successor, as a pass cannot read its own target.
void SampleAccumulator::drawBatch() {
    const int count = m_batch.count();
    if (count == 0) return;
    const bool hasSum = m_summed > 0;
    glBindFramebuffer(GL_FRAMEBUFFER, hasSum ? m_nextSumFramebuffer.id() : m_sumFramebuffer.id());
    if (!m_batch.drawInto(hasSum ? m_sum.id() : 0, m_quad)) return;
    if (hasSum) {
        std::swap(m_sum, m_nextSum);
        std::swap(m_sumFramebuffer, m_nextSumFramebuffer);
    }
    m_summed += count;
}

// The first sample is written over whatever the sum held, so a cleared sum
// never needs drawing; later ones are added by blending.
void SampleAccumulator::flush() {
    if (!m_pending) return;
    const Sample sample = *m_pending;
    m_pending.reset();
    if (holdInBatch(sample)) return;
    drawBatch();
    const PassProgram* program = passProgram(kindFor(sample, false, false));
    if (!program) return;
    glBindFramebuffer(GL_FRAMEBUFFER, m_sumFramebuffer.id());
    if (m_summed > 0) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        glBlendEquation(GL_FUNC_ADD);
    }
    draw(*program, &sample, false);
    glDisable(GL_BLEND);
    ++m_summed;
}

SampleAccumulator::PassKind SampleAccumulator::kindFor(const Sample& sample, bool resolve,
                                                       bool hasSum) const {
    // Whole-number ratios (the usual supersampling) take the plain box loop.
    const bool whole = sample.width % m_width == 0 && sample.height % m_height == 0;
    return PassKind{whole ? sample.width / m_width : 0, whole ? sample.height / m_height : 0,
                    resolve, hasSum, true};
}

// The sum is bound only for the passes that read it, never while it is the target.
void SampleAccumulator::draw(const PassProgram& program, const Sample* sample, bool readsSum,
                             int held) {
    glViewport(0, 0, m_width, m_height);
    glUseProgram(program.program.id());
    if (sample) {
        glUniform2f(program.ratio, float(double(sample->width) / m_width),
                    float(double(sample->height) / m_height));
        glUniform2i(program.sourceSize, sample->width, sample->height);
        glUniform1f(program.weight, sample->weight);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, sample->source);
    }
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, readsSum ? m_sum.id() : 0);
    if (held > 0) {
        std::vector<float> weights;
        for (int j = 0; j < held; ++j) {
            glActiveTexture(GLenum(GL_TEXTURE0 + kHeldUnit + j));
            glBindTexture(GL_TEXTURE_2D, m_batch.texture(j));
            weights.push_back(m_batch.weight(j));
        }
        glUniform1fv(program.heldWeights, held, weights.data());
    }
    glActiveTexture(GL_TEXTURE0);
    m_quad.bind();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

// Resolves the sum, and the last sample with it in the same pass, into
// `target`, made in `format` on first use; false when there is no
// accumulator or the target cannot be made. The last sample stays pending,
// so the images can be read in either format.
bool SampleAccumulator::resolveInto(GLTexture& target, GLFramebuffer& framebuffer, GLenum format) {
    if (!valid()) return false;
    if (!target && !makeColourTarget(target, framebuffer, format, m_width, m_height)) return false;
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
    glDisable(GL_BLEND);
    if (!m_pending && m_summed == 0 && m_batch.count() == 0) {
        glDisable(GL_SCISSOR_TEST);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        return true;
    }
    // The batch is added in this pass too; it stays held, as the last sample stays pending.
    PassKind kind = m_pending ? kindFor(*m_pending, true, m_summed > 0)
                              : PassKind{0, 0, true, m_summed > 0, false};
    kind.held = m_batch.count();
    const PassProgram* program = passProgram(kind);
    if (!program) return false;
    draw(*program, m_pending ? &*m_pending : nullptr, kind.hasSum, kind.held);
    return true;
}

bool SampleAccumulator::resolveForReading(bool floatSamples) {
    return floatSamples ? resolveInto(m_resolvedF, m_resolvedFFramebuffer, GL_RGBA32F)
                        : resolveInto(m_resolved8, m_resolved8Framebuffer, GL_RGBA8);
}

ImageRGBA8 SampleAccumulator::image() {
    if (!resolveForReading(false)) return {};
    return readFramebufferImage<ImageRGBA8>(m_width, m_height);
}

ImageRGBAF SampleAccumulator::imageFloat() {
    if (!resolveForReading(true)) return {};
    return readFramebufferImage<ImageRGBAF>(m_width, m_height);
}

}  // namespace lumivane
