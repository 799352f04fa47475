// Motion-blur samples at output size, kept in slots until several can be
// added to the sum in one pass: a pass per sample costs as much again as a
// bare render on a software rasterizer. A sample gets into a slot either by a
// copy of the render, or by the render drawing into a slot it was lent, which
// costs nothing more. The pass adds the samples one by one in the order they
// were held, each product and sum rounded on its own (`precise`), so the sum
// is the one that blending them one pass at a time gives. Without GLSL 4.00
// nothing is held and each sample takes a pass of its own, as before.
#pragma once

#include <map>
#include <vector>

#include "platform/engine/FullScreenQuad.h"
#include "platform/engine/GLObjects.h"

namespace lumivane {

class SampleBatch {
public:
    // Copies the colour of sourceFramebuffer (width x height, the texture's
    // format sourceFormat) into a free slot; false when it cannot be held.
    bool hold(GLuint sourceFramebuffer, int width, int height, GLint sourceFormat, float weight);
    // A slot nothing is held in, for a render of width x height in format to
    // draw into; -1 when every slot is taken or there can be none. The slot
    // stays lent, safe from copies, until it is held or another is lent.
    int lend(int width, int height, GLint format);
    GLuint slotFramebuffer(int slot) const { return m_slots[size_t(slot)].framebuffer.id(); }
    GLuint slotTexture(int slot) const { return m_slots[size_t(slot)].texture.id(); }
    // Holds what the lent slot holds as the next sample.
    void holdLent(int slot, float weight);
    int count() const { return int(m_held.size()); }
    // How many samples a pass may add.
    int capacity() const { return m_capacity; }
    // Whether a copy can be held without adding the batch to the sum first.
    bool hasRoom() const;
    // The held samples, for a pass that adds them itself: rows from the bottom.
    GLuint texture(int index) const { return slotTexture(m_held[size_t(index)].slot); }
    float weight(int index) const { return m_held[size_t(index)].weight; }
    // Draws into the bound framebuffer sum + each held sample weighted, in
    // order (sum: a texture of the same size, or 0 for none), and empties the
    // batch. False when the pass cannot be made.
    bool drawInto(GLuint sum, const FullScreenQuad& quad);
    void clear() { m_held.clear(); }

private:
    struct Slot {
        GLTexture texture;
        GLFramebuffer framebuffer;
    };
    struct Held {
        int slot = 0;
        float weight = 0;
    };
    struct Program {
        GLProgram program;
        GLint weights = -1;
        GLint height = -1;
    };

    bool fits(int width, int height, GLint format);
    bool addSlot();
    int freeSlot(bool forCopy);
    bool isHeld(int slot) const;
    const Program* program(int count, bool hasSum);

    std::vector<Slot> m_slots;
    std::vector<Held> m_held;
    int m_capacity = 0;
    int m_lent = -1;
    int m_width = 0;
    int m_height = 0;
    GLint m_format = 0;
    bool m_unsupported = false;
    std::map<std::pair<int, bool>, Program> m_programs;
};

}  // namespace lumivane
