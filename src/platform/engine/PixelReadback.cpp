#include "platform/engine/PixelReadback.h"

#include <cstring>
#include <string>

namespace lumivane {

PixelReadback::Slot* PixelReadback::freeSlot() {
    for (Slot& slot : m_slots)
        if (slot.serial == 0) return &slot;
    return nullptr;
}

Result<ReadbackTicket> PixelReadback::begin(int width, int height, bool floatSamples,
                                            bool bottomUp) {
    Slot* slot = freeSlot();
    if (!slot)
        return Error{"two readbacks are under way already: take one before starting another"};
    const size_t bytes = size_t(width) * size_t(height) * 4 * (floatSamples ? sizeof(float) : 1);
    auto ticket =
        start(*slot, bytes, width, height, GL_RGBA, floatSamples ? GL_FLOAT : GL_UNSIGNED_BYTE);
    slot->floatSamples = floatSamples;
    slot->bottomUp = bottomUp;
    slot->planes.reset();
    return ticket;
}

Result<ReadbackTicket> PixelReadback::beginPlanes(int width, int height, const YuvLayout& layout,
                                                  int texels, int rows, int channels) {
    Slot* slot = freeSlot();
    if (!slot)
        return Error{"two readbacks are under way already: take one before starting another"};
    const size_t sampleBytes = layout.bits > 8 ? 2 : 1;
    const size_t bytes = size_t(texels) * size_t(rows) * size_t(channels) * sampleBytes;
    auto ticket =
        start(*slot, bytes, texels, rows, channels == 4 ? GL_RGBA_INTEGER : GL_RED_INTEGER,
              sampleBytes == 2 ? GL_UNSIGNED_SHORT : GL_UNSIGNED_BYTE);
    slot->width = width;
    slot->height = height;
    slot->planes = layout;
    return ticket;
}

Result<ReadbackTicket> PixelReadback::start(Slot& slot, size_t bytes, int width, int height,
                                            GLenum format, GLenum type) {
    drainGLErrors();
    if (!slot.buffer) slot.buffer = GLBuffer::create();
    glBindBuffer(GL_PIXEL_PACK_BUFFER, slot.buffer.id());
    if (slot.capacity != bytes) {
        glBufferData(GL_PIXEL_PACK_BUFFER, GLsizeiptr(bytes), nullptr, GL_STREAM_READ);
        slot.capacity = bytes;
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, format, type, nullptr);
    // Unbound at once: a pixel buffer left bound would take every later synchronous read.
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    if (const GLenum error = glGetError(); error != GL_NO_ERROR) {
        slot.capacity = 0;
        return Error{"cannot read " + std::to_string(width) + " x " + std::to_string(height) +
                     " pixels into a pixel buffer" +
                     (error == GL_OUT_OF_MEMORY ? ": out of GPU memory" : "")};
    }
    slot.fence = GLFence::insert();
    slot.serial = m_nextSerial++;
    slot.width = width;
    slot.height = height;
    return ReadbackTicket{slot.serial};
}

template <class Image>
Image PixelReadback::copyOut(const Slot& slot, const uint8_t* mapped) const {
    Image image;
    image.width = slot.width;
    image.height = slot.height;
    // Appended row by row rather than zeroed first: a frame's worth of memset
    // is a measurable share of a small render.
    using Sample = typename decltype(image.pixels)::value_type;
    const size_t rowSamples = size_t(slot.width) * 4;
    const auto* samples = reinterpret_cast<const Sample*>(mapped);
    image.pixels.reserve(rowSamples * size_t(slot.height));
    for (int row = 0; row < slot.height; ++row) {
        const size_t from = size_t(slot.bottomUp ? slot.height - 1 - row : row) * rowSamples;
        image.pixels.insert(image.pixels.end(), samples + from, samples + from + rowSamples);
    }
    return image;
}

ImageYuv PixelReadback::copyPlanes(const Slot& slot, const uint8_t* mapped) const {
    ImageYuv frame{slot.width, slot.height, *slot.planes, {}};
    frame.pixels.assign(mapped, mapped + frame.byteCount());
    return frame;
}

Result<FrameImage> PixelReadback::take(ReadbackTicket ticket) {
    Slot* slot = nullptr;
    for (Slot& candidate : m_slots)
        if (ticket.serial != 0 && candidate.serial == ticket.serial) slot = &candidate;
    if (!slot) return Error{"no readback is under way for this ticket"};
    slot->serial = 0;  // taken, whatever happens below
    const bool finished = slot->fence.wait();
    slot->fence.reset();
    if (!finished) return Error{"the GPU did not finish a readback (the context is lost)"};
    glBindBuffer(GL_PIXEL_PACK_BUFFER, slot->buffer.id());
    const void* mapped =
        glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, GLsizeiptr(slot->capacity), GL_MAP_READ_BIT);
    if (!mapped) {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        return Error{"cannot map a pixel buffer for reading"};
    }
    const auto* bytes = static_cast<const uint8_t*>(mapped);
    FrameImage image = slot->planes         ? FrameImage(copyPlanes(*slot, bytes))
                       : slot->floatSamples ? FrameImage(copyOut<ImageRGBAF>(*slot, bytes))
                                            : FrameImage(copyOut<ImageRGBA8>(*slot, bytes));
    const bool intact = glUnmapBuffer(GL_PIXEL_PACK_BUFFER) == GL_TRUE;
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    if (!intact) return Error{"a pixel buffer was lost while it was read"};
    return image;
}

void PixelReadback::reset() {
    for (Slot& slot : m_slots) {
        slot.fence.reset();
        slot.serial = 0;
    }
}

}  // namespace lumivane
