#include "platform/engine/SampleBatch.h"

#include <algorithm>
#include <string>

#include "platform/engine/ColourTarget.h"
#include "platform/engine/ShaderProgram.h"

namespace lumivane {
namespace {

// Samples a pass adds at most; a frame of this many blur samples is resolved
// in one pass when there are slots for them all.
constexpr int kMostSamples = 16;
// Held samples take at most this much GPU memory; larger frames hold fewer.
constexpr double kSlotBudgetBytes = 256.0 * 1024 * 1024;

const char* kVertex =
    "#version 400 core\n"
    "in vec2 isf_VertPos;\n"
    "void main() { gl_Position = vec4(isf_VertPos, 0.0, 1.0); }\n";

// COUNT samples, HAS_SUM: whether the running sum comes first. Each term is
// the single-sample pass's: the premultiplied texel times its weight, rows
// turned over, added to what came before.
const char* kSum =
    "uniform sampler2D samples[COUNT];\n"
    "uniform float weights[COUNT];\n"
    "uniform sampler2D sum;\n"
    "uniform int height;\n"
    "out vec4 color;\n"
    "void main() {\n"
    "    ivec2 at = ivec2(gl_FragCoord.xy);\n"
    "    ivec2 from = ivec2(at.x, height - 1 - at.y);\n"
    "    precise vec4 total;\n"
    "    for (int j = 0; j < COUNT; ++j) {\n"
    "        vec4 s = texelFetch(samples[j], from, 0);\n"
    "        precise vec4 term = vec4(s.rgb * s.a, s.a) * weights[j];\n"
    "        if (j == 0 && !HAS_SUM) total = term;\n"
    "        else if (j == 0) total = texelFetch(sum, at, 0) + term;\n"
    "        else total = total + term;\n"
    "    }\n"
    "    color = total;\n"
    "}\n";

}  // namespace

const SampleBatch::Program* SampleBatch::program(int count, bool hasSum) {
    const auto key = std::make_pair(count, hasSum);
    if (auto it = m_programs.find(key); it != m_programs.end()) return &it->second;
    const std::string text = "#version 400 core\n#define COUNT " + std::to_string(count) +
                             "\n#define HAS_SUM " + (hasSum ? "true" : "false") + "\n" + kSum;
    auto built = ShaderProgram::build({"sample batch", kVertex, 0}, {"sample batch", text, 0});
    if (!built) return nullptr;
    Program entry;
    entry.program = std::move(built.value());
    const GLuint id = entry.program.id();
    glUseProgram(id);
    for (int j = 0; j < count; ++j)
        glUniform1i(glGetUniformLocation(id, ("samples[" + std::to_string(j) + "]").c_str()), j);
    glUniform1i(glGetUniformLocation(id, "sum"), count);
    entry.weights = glGetUniformLocation(id, "weights");
    entry.height = glGetUniformLocation(id, "height");
    return &m_programs.emplace(key, std::move(entry)).first->second;
}

// Slots are made as they are first needed, up to what the texture units of
// the resolve pass (the sample and the sum besides), the memory budget and
// kMostSamples allow.
bool SampleBatch::fits(int width, int height, GLint format) {
    if (m_unsupported) return false;
    if (width == m_width && height == m_height && format == m_format && m_capacity > 0) return true;
    if (!m_held.empty()) return false;  // the held samples go first
    m_slots.clear();
    m_lent = -1;
    GLint units = 0;
    glGetIntegerv(GL_MAX_TEXTURE_IMAGE_UNITS, &units);
    const double bytes = double(width) * height * (format == GL_RGBA8 ? 4 : 16);
    m_capacity = std::min({kMostSamples, int(units) - 2, int(kSlotBudgetBytes / bytes)});
    // The pass itself must build; a driver without GLSL 4.00 keeps a pass per sample.
    if (m_capacity < 2 || !program(2, true)) {
        m_unsupported = true;
        m_capacity = 0;
        return false;
    }
    m_width = width;
    m_height = height;
    m_format = format;
    return true;
}

bool SampleBatch::addSlot() {
    Slot slot;
    const bool made =
        makeColourTarget(slot.texture, slot.framebuffer, GLenum(m_format), m_width, m_height);
    // No more than this many, then: the batch lives with the slots it has.
    if (!made) m_capacity = int(m_slots.size());
    if (made) m_slots.push_back(std::move(slot));
    return made;
}

bool SampleBatch::isHeld(int slot) const {
    return std::any_of(m_held.begin(), m_held.end(),
                       [slot](const Held& held) { return held.slot == slot; });
}

// A copy never goes into the lent slot: it may hold the last render, not yet held.
int SampleBatch::freeSlot(bool forCopy) {
    if (!forCopy && m_lent >= 0 && !isHeld(m_lent)) return m_lent;
    for (int i = 0; i < int(m_slots.size()); ++i) {
        if (!isHeld(i) && !(forCopy && i == m_lent)) return i;
    }
    if (int(m_slots.size()) < m_capacity && addSlot()) return int(m_slots.size()) - 1;
    return -1;
}

bool SampleBatch::hasRoom() const {
    const int taken = count() + (m_lent >= 0 && !isHeld(m_lent) ? 1 : 0);
    return !m_unsupported && (m_capacity == 0 || taken < m_capacity);
}

int SampleBatch::lend(int width, int height, GLint format) {
    if (!fits(width, height, format)) return -1;
    m_lent = freeSlot(false);
    return m_lent;
}

void SampleBatch::holdLent(int slot, float weight) {
    m_held.push_back({slot, weight});
    if (slot == m_lent) m_lent = -1;
}

bool SampleBatch::hold(GLuint sourceFramebuffer, int width, int height, GLint sourceFormat,
                       float weight) {
    if (sourceFramebuffer == 0 || !fits(width, height, sourceFormat)) return false;
    const int slot = freeSlot(true);
    if (slot < 0) return false;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, sourceFramebuffer);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, m_slots[size_t(slot)].framebuffer.id());
    glDisable(GL_SCISSOR_TEST);
    glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    m_held.push_back({slot, weight});
    return true;
}

bool SampleBatch::drawInto(GLuint sum, const FullScreenQuad& quad) {
    const int held = count();
    if (held == 0) return true;
    const Program* pass = program(held, sum != 0);
    if (!pass) return false;
    std::vector<float> weights;
    glUseProgram(pass->program.id());
    for (int j = 0; j < held; ++j) {
        weights.push_back(weight(j));
        glActiveTexture(GLenum(GL_TEXTURE0 + j));
        glBindTexture(GL_TEXTURE_2D, texture(j));
    }
    glUniform1fv(pass->weights, held, weights.data());
    glUniform1i(pass->height, m_height);
    glActiveTexture(GLenum(GL_TEXTURE0 + held));
    glBindTexture(GL_TEXTURE_2D, sum);
    glActiveTexture(GL_TEXTURE0);
    glViewport(0, 0, m_width, m_height);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    quad.bind();
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    m_held.clear();
    return true;
}

}  // namespace lumivane
