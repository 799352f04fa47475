// Output-size accumulation on the GPU: each render is reduced by an exact
// area average (every supersample counts equally; non-integer ratios by
// exact area coverage) and added, weighted, to a 32-bit float RGBA target.
// Sums are kept with premultiplied alpha, so transparent samples add no
// colour; images read back with straight alpha, rows from the top.
//
// The newest sample is held back until something else is drawn, so that the
// first sample of a frame replaces the sum instead of clearing and adding to
// it, and the last is added in the pass that resolves the image: a frame of
// one sample is a single pass. Samples at output size (motion blur without
// supersampling) are added several to a pass (SampleBatch); a render can draw
// straight into the batch (lendSlot), which saves copying it there.
#pragma once

#include <map>
#include <optional>
#include <tuple>

#include "base/Image.h"
#include "platform/engine/FullScreenQuad.h"
#include "platform/engine/GLObjects.h"
#include "platform/engine/SampleBatch.h"

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
    // from the bottom, in sourceFormat, attached to sourceFramebuffer. It must
    // not change until flush() or clear().
    void accumulate(GLuint source, GLuint sourceFramebuffer, GLint sourceFormat, int sourceWidth,
                    int sourceHeight, float weight);
    // Adds a held-back sample to the sum: call before its source is drawn to.
    void flush();
    // A slot of the batch a render of width x height in format can draw into,
    // so that it is held as a sample without a copy; -1 when there is none
    // free or the render is not at output size.
    int lendSlot(int width, int height, GLint format);
    GLuint slotFramebuffer(int slot) const { return m_batch.slotFramebuffer(slot); }
    // Adds the render in the lent slot as the next sample, weighted.
    void accumulateLent(int slot, float weight);
    ImageRGBA8 image();
    ImageRGBAF imageFloat();
    // Resolves the image in bytes or floats into a target left bound for
    // reading, rows from the top; false when it cannot be made.
    bool resolveForReading(bool floatSamples);

private:
    struct Sample {
        GLuint source = 0;
        GLuint framebuffer = 0;
        GLint format = 0;
        int width = 0;
        int height = 0;
        float weight = 0;
    };
    struct PassKind {
        int factorX = 0;
        int factorY = 0;
        bool resolve = false;
        bool hasSum = false;
        bool hasSample = false;
        int held = 0;
        bool operator<(const PassKind& other) const {
            return std::tie(factorX, factorY, resolve, hasSum, hasSample, held) <
                   std::tie(other.factorX, other.factorY, other.resolve, other.hasSum,
                            other.hasSample, other.held);
        }
    };
    struct PassProgram {
        GLProgram program;
        GLint ratio = -1;
        GLint sourceSize = -1;
        GLint weight = -1;
        GLint heldWeights = -1;
    };

    const PassProgram* passProgram(const PassKind& kind);
    PassKind kindFor(const Sample& sample, bool resolve, bool hasSum) const;
    void draw(const PassProgram& program, const Sample* sample, bool readsSum, int held = 0);
    bool resolveInto(GLTexture& target, GLFramebuffer& framebuffer, GLenum format);
    bool canBatch(int width, int height);
    bool holdInBatch(const Sample& sample);
    void drawBatch();

    int m_width = 0;
    int m_height = 0;
    int m_summed = 0;  // samples drawn into m_sum since clear(), not counting the batch
    std::optional<Sample> m_pending;
    std::map<PassKind, PassProgram> m_programs;
    FullScreenQuad m_quad;
    GLTexture m_sum;
    GLFramebuffer m_sumFramebuffer;
    // The batch pass reads the sum and writes its successor here; they swap.
    GLTexture m_nextSum;
    GLFramebuffer m_nextSumFramebuffer;
    SampleBatch m_batch;
    bool m_batchable = false;
    GLTexture m_resolved8;
    GLFramebuffer m_resolved8Framebuffer;
    GLTexture m_resolvedF;
    GLFramebuffer m_resolvedFFramebuffer;
};

}  // namespace lumivane
