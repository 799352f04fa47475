// The last pass of a frame for a YUV encoder: turns the finished RGBA image
// into the encoder's planes on the GPU, so that 1.5 to 3 bytes a pixel come
// back instead of 4 and the CPU does no colour conversion. The planes are
// packed into one integer texture of the frame's width, so that reading it
// back whole gives them back to back. The arithmetic follows
// swscale's (bicubic chroma filter, fixed-point steps and rounding), which
// the CPU path uses, so either path gives the same codes within one.
#pragma once

#include "base/Image.h"
#include "base/Result.h"
#include "platform/engine/FullScreenQuad.h"
#include "platform/engine/GLObjects.h"

namespace lumivane {

class YuvConversion {
public:
    // Whether the pass can make frames of this layout and size.
    static bool supports(const YuvLayout& layout, int width, int height);
    // The packed texture: samples a texel holds (its channels, 1 or 4), and
    // its rows for a frame of this layout.
    static int samplesPerTexel(const YuvLayout& layout, int width);
    static int packedRows(const YuvLayout& layout, int height);

    // Converts the straight-alpha RGBA texture `source` (width x height, rows
    // from the bottom when bottomUp), composited over black, and leaves the
    // packed planes bound as the read framebuffer. Needs a current context.
    Result<void> convert(GLuint source, int width, int height, bool bottomUp,
                         const YuvLayout& layout);

private:
    Result<void> buildPrograms(const YuvLayout& layout, int perTexel);
    Result<void> prepare(int width, int height, const YuvLayout& layout);

    GLProgram m_luma;
    GLProgram m_chromaRows;
    GLProgram m_chroma;
    YuvLayout m_programLayout;
    int m_perTexel = 0;
    FullScreenQuad m_quad;
    // Chroma of every source row, for the vertical filter of 4:2:0.
    GLTexture m_rowsTexture;
    GLFramebuffer m_rowsFramebuffer;
    int m_rowsTexels = 0;
    int m_rowsHeight = 0;
    GLTexture m_packed;
    GLFramebuffer m_framebuffer;
    int m_texels = 0;
    int m_rows = 0;
    bool m_wide = false;
};

}  // namespace lumivane
