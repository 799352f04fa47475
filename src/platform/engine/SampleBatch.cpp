#include "platform/engine/SampleBatch.h"

#include <algorithm>
#include <string>

#include "platform/engine/ShaderProgram.h"

namespace lumivane {
namespace {

constexpr int kMostSamples = 8;
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

GLenum transferType(GLint format) {
    return format == GL_RGBA8 ? GL_UNSIGNED_BYTE : GL_FLOAT;
}

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

bool SampleBatch::makeSlots(int width, int height, GLint format) {
    m_slots.clear();
    m_count = 0;
    const double bytes = double(width) * height * (format == GL_RGBA8 ? 4 : 16);
    const int slots = std::min(kMostSamples, int(kSlotBudgetBytes / bytes));
    // The pass itself must build; a driver without GLSL 4.00 keeps a pass per sample.
    if (slots < 2 || !program(slots, true)) return false;
    drainGLErrors();
    for (int i = 0; i < slots; ++i) {
        Slot slot;
        slot.texture = GLTexture::create();
        glBindTexture(GL_TEXTURE_2D, slot.texture.id());
        glTexImage2D(GL_TEXTURE_2D, 0, format, width, height, 0, GL_RGBA, transferType(format),
                     nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        slot.framebuffer = GLFramebuffer::create();
        glBindFramebuffer(GL_FRAMEBUFFER, slot.framebuffer.id());
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                               slot.texture.id(), 0);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) break;
        m_slots.push_back(std::move(slot));
    }
    if (glGetError() != GL_NO_ERROR || m_slots.size() < 2) {
        m_slots.clear();
        return false;
    }
    m_width = width;
    m_height = height;
    m_format = format;
    return true;
}

bool SampleBatch::hold(GLuint sourceFramebuffer, int width, int height, GLint sourceFormat,
                       float weight) {
    if (m_unsupported || full() || sourceFramebuffer == 0) return false;
    if (width != m_width || height != m_height || sourceFormat != m_format || m_slots.empty()) {
        if (m_count > 0) return false;  // the held samples go first
        if (!makeSlots(width, height, sourceFormat)) {
            m_unsupported = true;
            return false;
        }
    }
    Slot& slot = m_slots[size_t(m_count)];
    glBindFramebuffer(GL_READ_FRAMEBUFFER, sourceFramebuffer);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, slot.framebuffer.id());
    glDisable(GL_SCISSOR_TEST);
    glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    slot.weight = weight;
    ++m_count;
    return true;
}

bool SampleBatch::drawInto(GLuint sum, const FullScreenQuad& quad) {
    if (m_count == 0) return true;
    const Program* pass = program(m_count, sum != 0);
    if (!pass) return false;
    std::vector<float> weights;
    glUseProgram(pass->program.id());
    for (int j = 0; j < m_count; ++j) {
        weights.push_back(m_slots[size_t(j)].weight);
        glActiveTexture(GLenum(GL_TEXTURE0 + j));
        glBindTexture(GL_TEXTURE_2D, m_slots[size_t(j)].texture.id());
    }
    glUniform1fv(pass->weights, m_count, weights.data());
    glUniform1i(pass->height, m_height);
    glActiveTexture(GLenum(GL_TEXTURE0 + m_count));
    glBindTexture(GL_TEXTURE_2D, sum);
    glActiveTexture(GL_TEXTURE0);
    glViewport(0, 0, m_width, m_height);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    quad.bind();
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    m_count = 0;
    return true;
}

}  // namespace lumivane
