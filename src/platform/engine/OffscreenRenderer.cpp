#include "platform/engine/OffscreenRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/NumberText.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/FramebufferReadback.h"
#include "platform/engine/HeadlessGLContext.h"

namespace lumivane {
namespace {

std::shared_ptr<GLContext> contextFor(ColorSpace colorSpace) {
    auto context = HeadlessGLContext::create(colorSpace == ColorSpace::Display
                                                 ? HeadlessGLContext::Device::Hardware
                                                 : HeadlessGLContext::Device::Any);
    if (!context) throw EngineError("cannot create an OpenGL context: " + context.error());
    return std::shared_ptr<GLContext>(std::move(context.value()));
}

int wholePixels(float size) {
    if (!std::isfinite(size) || size <= 0) return 0;
    const double rounded = std::ceil(double(size));
    return rounded > 1 << 30 ? 0 : int(rounded);
}

void flipRows(uint8_t* data, size_t rowBytes, int rows, std::vector<uint8_t>& scratch) {
    scratch.resize(rowBytes);
    for (int top = 0, bottom = rows - 1; top < bottom; ++top, --bottom) {
        uint8_t* a = data + rowBytes * size_t(top);
        uint8_t* b = data + rowBytes * size_t(bottom);
        std::memcpy(scratch.data(), a, rowBytes);
        std::memcpy(a, b, rowBytes);
        std::memcpy(b, scratch.data(), rowBytes);
    }
}

}  // namespace

OffscreenRenderer::OffscreenRenderer(float width, float height, ColorSpace colorSpace,
                                     std::shared_ptr<Composition> composition, TargetFormat format)
    : OffscreenRenderer(contextFor(colorSpace), width, height, std::move(composition), format) {}

OffscreenRenderer::OffscreenRenderer(std::shared_ptr<GLContext> context, float width, float height,
                                     std::shared_ptr<Composition> composition, TargetFormat format)
    : m_context(std::move(context)), m_format(format) {
    if (!m_context || !m_context->makeCurrent()) {
        throw EngineError("the OpenGL context cannot be made current");
    }
    createTarget(width, height);
    m_renderer = std::make_unique<CompositionRenderer>(*m_context, std::move(composition));
    auto targets = m_renderer->prepareTargets(m_width, m_height);
    if (!targets) throw EngineError(targets.error());
}

OffscreenRenderer::~OffscreenRenderer() {
    // Every GL object below is freed in this context.
    if (m_context) m_context->makeCurrent();
}

void OffscreenRenderer::createTarget(float width, float height) {
    m_width = wholePixels(width);
    m_height = wholePixels(height);
    GLint maxTexture = 0, maxRenderbuffer = 0, maxViewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTexture);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxRenderbuffer);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, maxViewport);
    const int limit = std::min({maxTexture, maxRenderbuffer, maxViewport[0], maxViewport[1]});
    // A size that is no number or not positive is the caller's mistake, not the GPU's limit.
    for (float side : {width, height}) {
        if (std::isnan(side)) throw EngineError("cannot render at a size that is not a number");
        if (!(side > 0)) {
            throw EngineError("cannot render at " + shortestText(width) + " x " +
                              shortestText(height) + ": a size must be positive");
        }
    }
    if (m_width <= 0 || m_height <= 0 || m_width > limit || m_height > limit) {
        throw EngineError("cannot render at " + std::to_string(width) + " x " +
                          std::to_string(height) + ": the GPU draws at most " +
                          std::to_string(limit) + " pixels a side");
    }
    drainGLErrors();
    const bool isFloat = m_format == TargetFormat::RGBAFloat;
    m_colour = GLTexture::create();
    glBindTexture(GL_TEXTURE_2D, m_colour.id());
    glTexImage2D(GL_TEXTURE_2D, 0, isFloat ? GL_RGBA32F : GL_RGBA8, m_width, m_height, 0, GL_RGBA,
                 isFloat ? GL_FLOAT : GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    m_depth = GLRenderbuffer::create();
    glBindRenderbuffer(GL_RENDERBUFFER, m_depth.id());
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, m_width, m_height);
    m_framebuffer = GLFramebuffer::create();
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer.id());
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_colour.id(), 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                              m_depth.id());
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR ||
        glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        throw EngineError("cannot allocate a " + std::to_string(m_width) + " x " +
                          std::to_string(m_height) + " render target" +
                          (error == GL_OUT_OF_MEMORY ? ": out of GPU memory" : ""));
    }
    clear();
    clearIfAsked();
}

// A composition that writes every pixel draws a blur sample straight into a
// slot of the accumulator's batch, as nothing of what the target held shows;
// one that does not draws on the previous render, in its own target.
OffscreenRenderer::Target OffscreenRenderer::targetForRender() {
    if (m_renderer->composition().writesEveryPixel()) {
        const int slot = m_accumulator.lendSlot(m_width, m_height, glFormat());
        if (slot >= 0) return {m_accumulator.slotFramebuffer(slot), slot};
    }
    return ownTarget();
}

Result<void> OffscreenRenderer::renderAtTime(double time, const RenderArguments* arguments) {
    if (!m_context->makeCurrent())
        return errorAt(m_renderer->composition().path(),
                       "the OpenGL context cannot be made current");
    const Target previous = m_last;
    const bool previousCleared = m_clearAsked;
    m_last = targetForRender();
    if (m_last.slot < 0) {
        m_accumulator.flush();  // it may still hold the render about to be replaced
        // Clearing what the render overwrites whole would be wasted.
        if (!m_renderer->composition().writesEveryPixel()) clearIfAsked();
    }
    Result<void> rendered;
    try {
        rendered = m_renderer->render(time, arguments, m_last.framebuffer, m_width, m_height);
    } catch (...) {
        keepPreviousAfterFailure(previous, previousCleared);
        throw;
    }
    if (!rendered) keepPreviousAfterFailure(previous, previousCleared);
    if (m_last.slot < 0) m_clearAsked = false;
    return rendered;
}

// A render that fails draws nothing into the output, so the target shows what
// the renderer showed before it: the previous render, or a cleared target.
void OffscreenRenderer::keepPreviousAfterFailure(const Target& previous, bool previousCleared) {
    if (previousCleared && previous.slot < 0) {
        clearFramebuffer(m_last.framebuffer);
    } else if (previous.framebuffer != m_last.framebuffer) {
        copyColour(previous.framebuffer, m_last.framebuffer);
    }
}

void OffscreenRenderer::copyColour(GLuint from, GLuint to) const {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, from);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, to);
    glDisable(GL_SCISSOR_TEST);
    glBlitFramebuffer(0, 0, m_width, m_height, 0, 0, m_width, m_height, GL_COLOR_BUFFER_BIT,
                      GL_NEAREST);
}

void OffscreenRenderer::clearFramebuffer(GLuint framebuffer) {
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glClearColor(0, 0, 0, 0);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// The clear waits until something reads or draws on the target, which a
// render into a batch slot never does.
void OffscreenRenderer::clear() {
    m_last = ownTarget();
    m_clearAsked = true;
}

// Only the own target waits for a clear; a render in a slot has replaced it.
void OffscreenRenderer::clearIfAsked() {
    if (!m_clearAsked || m_last.slot >= 0) return;
    m_accumulator.flush();
    clearFramebuffer(m_framebuffer.id());
    m_clearAsked = false;
}

GLint OffscreenRenderer::glFormat() const {
    return m_format == TargetFormat::RGBAFloat ? GL_RGBA32F : GL_RGBA8;
}

bool OffscreenRenderer::rasterizesOnCpu() const {
    if (!m_context->makeCurrent()) return false;
    const auto* name = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const std::string renderer = name ? name : "";
    for (const char* software : {"llvmpipe", "softpipe", "SwiftShader"})
        if (renderer.find(software) != std::string::npos) return true;
    return false;
}

void OffscreenRenderer::finish() {
    if (m_context->makeCurrent()) glFinish();
}

template <class Image>
Image OffscreenRenderer::snapshot() {
    if (!m_context->makeCurrent()) return {};
    clearIfAsked();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, m_last.framebuffer);
    Image image = readFramebufferImage<Image>(m_width, m_height);
    flipRows(reinterpret_cast<uint8_t*>(image.pixels.data()),
             size_t(m_width) * 4 * sizeof(image.pixels[0]), m_height, m_rowScratch);
    return image;
}

ImageRGBA8 OffscreenRenderer::createSnapshotImage() {
    // Reading a float target as bytes clamps and rounds in the driver.
    return snapshot<ImageRGBA8>();
}

ImageRGBAF OffscreenRenderer::createSnapshotImageFloat() {
    return snapshot<ImageRGBAF>();
}

Result<void> OffscreenRenderer::createAccumulator(int width, int height) {
    if (!m_context->makeCurrent()) return Error{"the OpenGL context cannot be made current"};
    // The slots may not outlive the accumulator made before this one.
    if (m_last.slot >= 0) {
        copyColour(m_last.framebuffer, m_framebuffer.id());
        m_last = ownTarget();
        m_clearAsked = false;
    }
    if (!m_accumulator.create(width, height))
        return Error{"cannot make a " + std::to_string(width) + " x " + std::to_string(height) +
                     " float accumulator"};
    return {};
}

void OffscreenRenderer::clearAccumulator() {
    if (m_context->makeCurrent()) m_accumulator.clear();
}

void OffscreenRenderer::accumulate(float weight) {
    if (!m_context->makeCurrent()) return;
    if (m_last.slot >= 0) {
        m_accumulator.accumulateLent(m_last.slot, weight);
        return;
    }
    clearIfAsked();
    m_accumulator.accumulate(m_colour.id(), m_framebuffer.id(), glFormat(), m_width, m_height,
                             weight);
}

ImageRGBA8 OffscreenRenderer::accumulatorImage() {
    if (!m_context->makeCurrent()) return {};
    return m_accumulator.image();
}

ImageRGBAF OffscreenRenderer::accumulatorImageFloat() {
    if (!m_context->makeCurrent()) return {};
    return m_accumulator.imageFloat();
}

Result<ReadbackTicket> OffscreenRenderer::beginReadback(ReadbackSource source,
                                                        TargetFormat samples) {
    if (!m_context->makeCurrent()) return Error{"the OpenGL context cannot be made current"};
    const bool floatSamples = samples == TargetFormat::RGBAFloat;
    if (source == ReadbackSource::Render) {
        clearIfAsked();
        glBindFramebuffer(GL_READ_FRAMEBUFFER, m_last.framebuffer);
        return m_readback.begin(m_width, m_height, floatSamples, true);
    }
    if (!m_accumulator.resolveForReading(floatSamples))
        return Error{"there is no accumulator to read back"};
    return m_readback.begin(m_accumulator.width(), m_accumulator.height(), floatSamples, false);
}

Result<ReadbackTicket> OffscreenRenderer::beginReadback(ReadbackSource source,
                                                        const YuvLayout& layout) {
    if (!m_context->makeCurrent()) return Error{"the OpenGL context cannot be made current"};
    int width = m_width, height = m_height;
    if (source == ReadbackSource::Render) {
        clearIfAsked();
        glBindFramebuffer(GL_READ_FRAMEBUFFER, m_last.framebuffer);
    } else {
        if (!m_accumulator.resolveForReading(false))
            return Error{"there is no accumulator to read back"};
        width = m_accumulator.width();
        height = m_accumulator.height();
    }
    // The image's texture, whichever target (own, batch slot, resolve) holds it.
    GLint texture = 0;
    glGetFramebufferAttachmentParameteriv(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                          GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &texture);
    auto converted =
        m_yuv.convert(GLuint(texture), width, height, source == ReadbackSource::Render, layout);
    if (!converted) return Error{converted.error()};
    const int channels = YuvConversion::samplesPerTexel(layout, width);
    return m_readback.beginPlanes(width, height, layout, width / channels,
                                  YuvConversion::packedRows(layout, height), channels);
}

Result<FrameImage> OffscreenRenderer::takeReadback(ReadbackTicket ticket) {
    if (!m_context->makeCurrent()) return Error{"the OpenGL context cannot be made current"};
    return m_readback.take(ticket);
}

}  // namespace lumivane
