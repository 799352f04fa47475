// Draws a composition into a framebuffer of the caller's context: its passes,
// their targets, its inputs and the time and input state that carry over
// from one render to the next. The offscreen renderer and the on-screen view
// both draw through it.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/PlistValue.h"
#include "base/Result.h"
#include "platform/engine/AudioInputImage.h"
#include "platform/engine/AudioSampleSource.h"
#include "platform/engine/Composition.h"
#include "platform/engine/EngineKeys.h"
#include "platform/engine/FullScreenQuad.h"
#include "platform/engine/GLContext.h"
#include "platform/engine/GLObjects.h"
#include "platform/engine/ImageSizeUniforms.h"
#include "platform/engine/PassSizeExpression.h"
#include "platform/engine/UserInputState.h"

namespace lumivane {

class CompositionRenderer {
public:
    // Makes `context` current and builds the programs and textures there;
    // throws EngineError when the shaders do not build. `context` must outlive
    // the renderer.
    CompositionRenderer(GLContext& context, std::shared_ptr<Composition> composition);
    ~CompositionRenderer();
    CompositionRenderer(const CompositionRenderer&) = delete;
    CompositionRenderer& operator=(const CompositionRenderer&) = delete;

    const Composition& composition() const { return *m_composition; }
    std::vector<std::string> inputKeys() const { return m_composition->inputKeys(); }
    PlistDict attributes() const { return m_composition->attributes(); }
    std::optional<PlistValue> valueForInputKey(const std::string& key) const;
    // Throws EngineError for an unknown key or a value that does not fit.
    void setValue(const PlistValue& value, const std::string& key);
    // An image input's pixels from elsewhere (a movie's frame); its value,
    // the file's name, stays. Throws EngineError unless `key` is an image input.
    void setImagePixels(const std::string& key, TexturePixels pixels);
    // The sound that audio and audioFFT inputs hear at each render's time;
    // without one they read as silence. A part of the sound that cannot be
    // read is drawn as silence too: the source keeps the failure for its owner.
    void setAudioSource(std::shared_ptr<AudioSampleSource> source);
    // The time audio inputs hear from now on, where it is not the render's
    // own (a preview whose sound follows a playhead); none: the render's.
    void setAudioTime(std::optional<double> time) { m_audioTime = time; }
    PlistDict propertyListFromInputValues() const;
    // Why an input is drawn as nothing though it has a value (a text input
    // whose text cannot be drawn), or nothing when every input is as set.
    std::optional<std::string> inputProblem() const;
    int maxTextureSize() const { return m_maxTextureSize; }

    // Draws the composition at `time` into `framebuffer` (width x height).
    // Fails when the context cannot be made current or a pass target cannot
    // be allocated at the size its expression asks for.
    Result<void> render(double time, const RenderArguments* arguments, GLuint framebuffer,
                        int width, int height);

    // Allocates every pass target at the size its expression gives for a
    // width x height render with the inputs as they are now, so that one the
    // GPU cannot hold fails before the first frame rather than drawing black.
    Result<void> prepareTargets(int width, int height);

    // Continues as if `renders` renders had run, the last at `lastTime`:
    // what FRAMEINDEX and TIMEDELTA read next, and event inputs that read
    // true for the first render only. For a composition that keeps no state
    // between renders, a render part-way through a timeline then draws what
    // it draws after all the renders before it.
    void setRenderHistory(int renders, double lastTime);

    // Both buffers of one pass target together, at most: far beyond any
    // effect's needs, short of what a size expression can ask for.
    static constexpr long long kMaxTargetBytes = 2LL * 1024 * 1024 * 1024;

private:
    struct InputSlot {
        PlistValue value;
        bool eventPending = false;  // an event reads true for one render
        std::optional<TexturePixels> pendingPixels;
        std::string problem;  // why the value is drawn as nothing
        GLTexture texture;
        std::array<float, 2> size{};
        GLint location = -1;
        ImageSizeUniforms sizeUniforms;
        int unit = -1;
    };
    void drawText(InputSlot& slot, const CompositionInput& input, const std::string& text);

    struct ImageSlot {
        GLTexture texture;
        std::array<float, 2> size{};
        GLint location = -1;
        ImageSizeUniforms sizeUniforms;
        int unit = -1;
    };
    struct TargetSlot {
        std::string name;
        bool persistent = false;
        bool isFloat = false;
        GLTexture textures[2];
        GLFramebuffer framebuffers[2];
        int front = 0;
        int width = 0;
        int height = 0;
        GLint location = -1;
        ImageSizeUniforms sizeUniforms;
        int unit = -1;
    };
    struct PassSlot {
        int target = -1;
        std::unique_ptr<PassSizeExpression> width;
        std::unique_ptr<PassSizeExpression> height;
    };
    struct BuiltinLocations {
        GLint time = -1, timeDelta = -1, renderSize = -1, frameIndex = -1, date = -1,
              passIndex = -1;
        GLint mouse = -1, mouseClick = -1, mouseButtons = -1, scroll = -1, modifiers = -1,
              keyboard = -1, keyboardSize = -1;
    };

    void buildProgram();
    void buildTextures();
    void buildPasses();
    int assignUnit(GLint location);
    void uploadPendingTextures();
    void updateAudioInputs(double time);
    void setFrameUniforms(double time);
    void setInputUniforms();
    std::array<int, 2> passSize(const PassSlot& pass, int width, int height);
    Result<void> ensureTargetSize(TargetSlot& target, int width, int height);
    Result<void> allocateTarget(TargetSlot& target, int width, int height);
    Error targetFailure(size_t pass, const TargetSlot& target, std::array<int, 2> size,
                        const std::string& why) const;
    void bindTextures();
    Result<void> drawPass(size_t index, GLuint framebuffer, int width, int height);
    std::optional<PlistValue> coerce(const CompositionInput& input, const PlistValue& value) const;

    GLContext& m_context;
    std::shared_ptr<Composition> m_composition;
    GLProgram m_program;
    FullScreenQuad m_quad;
    GLTexture m_emptyTexture;
    GLTexture m_keyboardTexture;
    std::vector<InputSlot> m_inputs;
    std::vector<ImageSlot> m_imported;
    std::vector<TargetSlot> m_targets;
    std::vector<PassSlot> m_passes;
    BuiltinLocations m_builtins;
    int m_keyboardUnit = -1;
    int m_nextUnit = 0;
    GLint m_maxTextureSize = 4096;
    std::vector<double> m_numericValues;  // for the size expressions
    UserInputState m_userInput;
    std::shared_ptr<AudioSampleSource> m_audioSource;
    std::unique_ptr<AudioInputImage> m_audioImage;
    std::optional<double> m_audioTime;
    double m_lastTime = 0;
    int m_frameIndex = 0;
};

}  // namespace lumivane
