// Renders a composition offscreen into a framebuffer object of its own
// context, takes snapshots of the last render, and accumulates downscaled
// samples at output size (anti-aliasing and motion blur).
//
// Colour spaces are two ways of creating the renderer. Display renders on the
// GPU that would drive a display (the EGL device platform, hardware only) and
// throws where there is none; GenericRGB takes any EGL implementation, the
// software rasterizer included. Both produce the same pixel values: what the
// shader writes, taken as sRGB-encoded, with straight alpha.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Image.h"
#include "base/PlistValue.h"
#include "base/Result.h"
#include "platform/engine/Composition.h"
#include "platform/engine/CompositionRenderer.h"
#include "platform/engine/EngineKeys.h"
#include "platform/engine/GLContext.h"
#include "platform/engine/GLObjects.h"
#include "platform/engine/PixelReadback.h"
#include "platform/engine/SampleAccumulator.h"
#include "platform/engine/YuvConversion.h"

namespace lumivane {

enum class ColorSpace { Display, GenericRGB };
enum class TargetFormat { RGBA8, RGBAFloat };
enum class ReadbackSource { Render, Accumulator };

class OffscreenRenderer {
public:
    // Owns a HeadlessGLContext made for the colour space. The size may be
    // fractional and is rounded up to whole pixels. Throws EngineError when
    // the context or targets of that size cannot be made.
    OffscreenRenderer(float width, float height, ColorSpace colorSpace,
                      std::shared_ptr<Composition> composition,
                      TargetFormat format = TargetFormat::RGBA8);
    // Draws in a context the caller provides.
    OffscreenRenderer(std::shared_ptr<GLContext> context, float width, float height,
                      std::shared_ptr<Composition> composition,
                      TargetFormat format = TargetFormat::RGBA8);
    ~OffscreenRenderer();
    OffscreenRenderer(const OffscreenRenderer&) = delete;
    OffscreenRenderer& operator=(const OffscreenRenderer&) = delete;

    int width() const { return m_width; }
    // Whether the GPU is a software rasterizer (llvmpipe and its kind), which
    // draws on the CPU.
    bool rasterizesOnCpu() const;
    int height() const { return m_height; }
    TargetFormat format() const { return m_format; }

    std::vector<std::string> inputKeys() const { return m_renderer->inputKeys(); }
    PlistDict attributes() const { return m_renderer->attributes(); }
    std::optional<PlistValue> valueForInputKey(const std::string& key) const {
        return m_renderer->valueForInputKey(key);
    }
    // Throws EngineError for an unknown key or a value the input cannot take.
    void setValue(const PlistValue& value, const std::string& key) {
        m_renderer->setValue(value, key);
    }
    void setImagePixels(const std::string& key, TexturePixels pixels) {
        m_renderer->setImagePixels(key, std::move(pixels));
    }
    // See CompositionRenderer::setAudioSource.
    void setAudioSource(std::shared_ptr<AudioSampleSource> source) {
        m_renderer->setAudioSource(std::move(source));
    }
    PlistDict propertyListFromInputValues() const {
        return m_renderer->propertyListFromInputValues();
    }
    // See CompositionRenderer::inputProblem.
    std::optional<std::string> inputProblem() const { return m_renderer->inputProblem(); }
    // The largest side an image input's texture may have.
    int maxTextureSize() const { return m_renderer->maxTextureSize(); }

    // arguments may be nullptr. Fails when the context is lost or a pass
    // target cannot be made.
    Result<void> renderAtTime(double time, const RenderArguments* arguments);
    // See CompositionRenderer::setRenderHistory.
    void setRenderHistory(int renders, double lastTime) {
        m_renderer->setRenderHistory(renders, lastTime);
    }
    // Colour and depth of the render target to (0, 0, 0, 0).
    void clear();
    // Waits until every render asked for has run. Renders that are never read
    // back (the pre-roll) otherwise queue up in the driver without bound.
    void finish();
    // The last render at renderer size, rows from the top, straight alpha.
    ImageRGBA8 createSnapshotImage();
    // The same in float, unclamped when the target is float.
    ImageRGBAF createSnapshotImageFloat();

    // 32-bit float RGBA at output size.
    Result<void> createAccumulator(int width, int height);
    void clearAccumulator();
    // Area-average downscale of the last render onto the accumulator's size,
    // then accumulator += weight * sample.
    void accumulate(float weight);
    ImageRGBA8 accumulatorImage();
    ImageRGBAF accumulatorImageFloat();

    // Readback that does not wait: begin starts reading the last render or
    // the accumulator's image, as bytes or floats, and returns at once; the
    // caller renders on and takes the pixels later. They are the bytes the
    // calls above give for the same image. At most two are under way.
    Result<ReadbackTicket> beginReadback(ReadbackSource source, TargetFormat samples);
    // The same image converted on the GPU into a YUV encoder's planes (taken
    // as an ImageYuv); fails for a layout or size YuvConversion cannot make.
    Result<ReadbackTicket> beginReadback(ReadbackSource source, const YuvLayout& layout);
    Result<FrameImage> takeReadback(ReadbackTicket ticket);

private:
    // Where a render draws: the renderer's own target, or a slot of the
    // accumulator's batch (slot >= 0).
    struct Target {
        GLuint framebuffer = 0;
        int slot = -1;
    };

    void createTarget(float width, float height);
    Target ownTarget() const { return {m_framebuffer.id(), -1}; }
    Target targetForRender();
    void keepPreviousAfterFailure(const Target& previous, bool previousCleared);
    static void clearFramebuffer(GLuint framebuffer);
    void copyColour(GLuint from, GLuint to) const;
    void clearIfAsked();
    GLint glFormat() const;
    template <class Image>
    Image snapshot();

    std::shared_ptr<GLContext> m_context;
    TargetFormat m_format;
    int m_width = 0;
    int m_height = 0;
    GLTexture m_colour;
    GLRenderbuffer m_depth;
    GLFramebuffer m_framebuffer;
    std::unique_ptr<CompositionRenderer> m_renderer;
    // The last render, or the own target after clear().
    Target m_last;
    bool m_clearAsked = false;
    SampleAccumulator m_accumulator;
    PixelReadback m_readback;
    YuvConversion m_yuv;
    std::vector<uint8_t> m_rowScratch;
};

}  // namespace lumivane
