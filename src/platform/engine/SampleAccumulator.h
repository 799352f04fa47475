// Output-size accumulation on the GPU: each render is reduced by an exact
// area average (every supersample counts equally; non-integer ratios by
// exact area coverage) and added, weighted, to a 32-bit float RGBA target.
// Sums are kept with premultiplied alpha, so transparent samples add no
// colour; images read back with straight alpha, rows from the top.
#pragma once

#include <map>
#include <utility>

#include "platform/engine/FullScreenQuad.h"
#include "platform/engine/GLObjects.h"
#include "shared/Image.h"

namespace lumivane {

class SampleAccumulator {
public:
    // Needs a current context; false when targets of that size cannot be made.
    bool create(int width, int height);
    bool valid() const { return bool(m_sum); }
    int width() const { return m_width; }
    int height() const { return m_height; }

    void clear();
    // source: a straight-alpha texture of sourceWidth x sourceHeight, rows
    // from the bottom.
    void accumulate(GLuint source, int sourceWidth, int sourceHeight, float weight);
    ImageRGBA8 image();
    ImageRGBAF imageFloat();

private:
    struct AccumulateProgram {
        GLProgram program;
        GLint ratio = -1;
        GLint sourceSize = -1;
        GLint weight = -1;
    };

    bool buildPrograms();
    const AccumulateProgram* accumulateProgram(int factorX, int factorY);
    bool resolveInto(GLTexture& target, GLFramebuffer& framebuffer, GLenum format);

    int m_width = 0;
    int m_height = 0;
    std::map<std::pair<int, int>, AccumulateProgram> m_accumulatePrograms;
    GLProgram m_resolveProgram;
    FullScreenQuad m_quad;
    GLTexture m_sum;
    GLFramebuffer m_sumFramebuffer;
    GLTexture m_resolved8;
    GLFramebuffer m_resolved8Framebuffer;
    GLTexture m_resolvedF;
    GLFramebuffer m_resolvedFFramebuffer;
};

}  // namespace lumivane
