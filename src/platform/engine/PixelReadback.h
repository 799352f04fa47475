// Reads framebuffers back without waiting for them: the pixels go into one
// of two pixel buffers, fenced, and are copied out when taken, so the GPU can
// draw the next frame meanwhile. A ticket names one read; at most two are
// under way at once. Needs the context current in every call and while it is
// destroyed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "base/Image.h"
#include "base/Result.h"
#include "platform/engine/GLObjects.h"

namespace lumivane {

struct ReadbackTicket {
    uint64_t serial = 0;
};

class PixelReadback {
public:
    // Starts reading the bound read framebuffer's width x height RGBA pixels,
    // as bytes or floats. bottomUp: the framebuffer's rows are GL's (from the
    // bottom) and are turned over when taken, so images always start at the top.
    Result<ReadbackTicket> begin(int width, int height, bool floatSamples, bool bottomUp);
    // Starts reading the bound read framebuffer's integer texture of packed
    // planes (YuvConversion): texels x rows texels of `channels` samples of
    // 8 or 16 bits, taken as a width x height frame in that layout.
    Result<ReadbackTicket> beginPlanes(int width, int height, const YuvLayout& layout, int texels,
                                       int rows, int channels);
    // Waits for the read, if it has not finished, and hands its pixels over.
    Result<FrameImage> take(ReadbackTicket ticket);
    // Forgets the reads under way.
    void reset();

private:
    struct Slot {
        GLBuffer buffer;
        size_t capacity = 0;
        GLFence fence;
        uint64_t serial = 0;  // 0: free
        int width = 0;
        int height = 0;
        bool floatSamples = false;
        bool bottomUp = false;
        std::optional<YuvLayout> planes;
    };

    Slot* freeSlot();
    Result<ReadbackTicket> start(Slot& slot, size_t bytes, int width, int height, GLenum format,
                                 GLenum type);
    template <class Image>
    Image copyOut(const Slot& slot, const uint8_t* mapped) const;
    ImageYuv copyPlanes(const Slot& slot, const uint8_t* mapped) const;

    std::array<Slot, 2> m_slots;
    uint64_t m_nextSerial = 1;
};

}  // namespace lumivane
