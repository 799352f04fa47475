// Motion-blur samples at output size, kept until several can be added to the
// sum in one pass: a pass per sample costs as much again as a bare render on
// a software rasterizer, a copy of the sample a fraction of that. The pass
// adds them one by one in the order they came, each product and sum rounded
// on its own (`precise`), so the sum is the one that blending them one pass
// at a time gives. Without GLSL 4.00 nothing is held and each sample takes a
// pass of its own, as before.
#pragma once

#include <map>
#include <vector>

#include "platform/engine/FullScreenQuad.h"
#include "platform/engine/GLObjects.h"

namespace lumivane {

class SampleBatch {
public:
    // Copies the colour of sourceFramebuffer (width x height, the texture's
    // format sourceFormat) into the batch; false when it cannot be held.
    bool hold(GLuint sourceFramebuffer, int width, int height, GLint sourceFormat, float weight);
    int count() const { return m_count; }
    bool full() const { return m_count > 0 && m_count == int(m_slots.size()); }
    // The held samples, for a pass that adds them itself: rows from the bottom.
    GLuint texture(int index) const { return m_slots[size_t(index)].texture.id(); }
    float weight(int index) const { return m_slots[size_t(index)].weight; }
    // Draws into the bound framebuffer sum + each held sample weighted, in
    // order (sum: a texture of the same size, or 0 for none), and empties the
    // batch. False when the pass cannot be made.
    bool drawInto(GLuint sum, const FullScreenQuad& quad);
    void clear() { m_count = 0; }

private:
    struct Slot {
        GLTexture texture;
        GLFramebuffer framebuffer;
        float weight = 0;
    };
    struct Program {
        GLProgram program;
        GLint weights = -1;
        GLint height = -1;
    };

    bool makeSlots(int width, int height, GLint format);
    const Program* program(int count, bool hasSum);

    std::vector<Slot> m_slots;
    int m_count = 0;
    int m_width = 0;
    int m_height = 0;
    GLint m_format = 0;
    bool m_unsupported = false;
    std::map<std::pair<int, bool>, Program> m_programs;
};

}  // namespace lumivane
