#include "cli/RenderComposition.h"

#include <climits>
#include <cmath>
#include <memory>

#include "base/Log.h"
#include "cli/EventReplay.h"
#include "cli/FrameOutput.h"
#include "cli/ProgressReporter.h"
#include "cli/RendererState.h"
#include "cli/StoppableWait.h"
#include "cli/TerminationPath.h"
#include "platform/engine/Composition.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/OffscreenRenderer.h"

namespace lumivane {
namespace {

constexpr const char* kOpenEXRType = "com.ilm.openexr-image";

// The values every step of the run derives from the settings.
struct RenderPlan {
    int width = 0;  // output size
    int height = 0;
    double timeScale = 1;
    double startTime = 0;
    int motionBlur = 0;
    int extraSubframes = 0;       // E
    double downscale = 1;         // D
    double frameDuration = 1;     // F
    double subframeDuration = 0;  // S
    int frameCount = 0;           // N
    bool floatFrames = false;

    bool usesDirectLoop() const { return downscale == 1.0 && extraSubframes == 0; }
};

int stringIntValue(const std::optional<std::string>& text) {
    return text ? PlistValue(*text).intValue() : 0;
}

// framerate x duration truncated to 32 bits; what cannot be a count of frames
// (negative, not a number) renders nothing.
int frameCountFor(double framerate, double duration) {
    double count = std::trunc(framerate * duration);
    if (!(count > 0)) return 0;
    if (count >= static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<int>(count);
}

RenderPlan planFor(const RenderSettings& settings) {
    RenderPlan plan;
    plan.width = stringIntValue(settings.width());
    plan.height = stringIntValue(settings.height());
    plan.timeScale = settings.timeScale();
    plan.startTime = settings.startTime();
    plan.motionBlur = settings.motionBlur();
    plan.extraSubframes = plan.motionBlur >= 1 ? plan.motionBlur - 1 : 0;
    double aa = settings.AA();
    plan.downscale = aa >= 1.0 ? 1.0 / aa : 1.0;
    double framerate = settings.framerate();
    plan.frameDuration = framerate >= 0 ? 1.0 / framerate : 1.0;
    if (plan.extraSubframes > 0) plan.subframeDuration = plan.frameDuration / plan.motionBlur;
    plan.frameCount = frameCountFor(framerate, settings.duration());
    plan.floatFrames = settings.codec().value_or("") == kOpenEXRType;
    return plan;
}

void echoSettings(const RenderSettings& settings, const RenderPlan& plan) {
    nsLog("Render Settings:");
    nsLog(" * Dimensions: %ix%i @ %ffps", plan.width, plan.height, settings.framerate());
    nsLog(" * Duration: %f sec AA: %2.1f MB: %i", settings.duration(), settings.AA(),
          settings.motionBlur());
    nsLog(" * Codec: %s Quality: %i", settings.codec().value_or("(null)").c_str(),
          settings.quality());
    nsLog(" * Composition: [%s]  Movie file: [%s]",
          settings.compositionFile().value_or("(null)").c_str(),
          settings.moviePath().value_or("(null)").c_str());
}

class Render {
public:
    Render(RenderSettings& settings)
        : m_settings(settings), m_plan(planFor(settings)), m_progress(settings.appController()) {}

    int run();

private:
    int fail(const std::string& consoleLine, const std::string& errorText) {
        logLine(consoleLine);
        m_progress.indicateError(errorText);
        return -1;
    }
    int failOutput(const FrameOutputFailure& failure) {
        if (!failure.detail.empty()) logLine("LumivaneCLI: " + failure.detail);
        return fail(failure.consoleLine, "failed to create movie");
    }

    bool loadComposition();
    bool createRenderer();
    std::unique_ptr<OffscreenRenderer> tryRenderer(ColorSpace colorSpace);
    void setPublishedInputs();
    void setFixedInput(const char* key, const PlistValue& value);
    void preRoll();
    int renderFrames();
    FrameImage directFrame();
    FrameImage accumulatedFrame(double frameTime);
    void renderAt(double time) {
        renderAtTimeWithEvents(*m_renderer, m_events.get(), m_cursor, time);
    }

    RenderSettings& m_settings;
    RenderPlan m_plan;
    ProgressReporter m_progress;
    std::shared_ptr<Composition> m_composition;
    std::unique_ptr<OffscreenRenderer> m_renderer;
    std::unique_ptr<FrameOutput> m_output;
    std::shared_ptr<const EventArray> m_events;
    size_t m_cursor = 0;
};

bool Render::loadComposition() {
    auto path = m_settings.compositionFile();
    try {
        // Images it imports may be large, or slow to arrive over the network.
        if (path)
            m_composition = runStoppable([&] { return Composition::compositionWithFile(*path); });
    } catch (const std::exception& error) {
        // The engine says which file and what failed (for GLSL, the line).
        logLine(std::string("LumivaneCLI: ") + error.what());
    }
    return m_composition != nullptr;
}

std::unique_ptr<OffscreenRenderer> Render::tryRenderer(ColorSpace colorSpace) {
    float width = static_cast<float>(m_plan.width * m_settings.AA());
    float height = static_cast<float>(m_plan.height * m_settings.AA());
    auto format = m_plan.floatFrames ? TargetFormat::RGBAFloat : TargetFormat::RGBA8;
    return std::make_unique<OffscreenRenderer>(width, height, colorSpace, m_composition, format);
}

// The display's colour space first, generic RGB after a failure.
bool Render::createRenderer() {
    try {
        m_renderer = tryRenderer(ColorSpace::Display);
    } catch (const EngineError&) {
        try {
            m_renderer = tryRenderer(ColorSpace::GenericRGB);
        } catch (const EngineError& second) {
            nsLog("Exception creating renderer (2nd attempt): %s", second.what());
        } catch (...) {
            nsLog("hmm, both colorspace attempts failed... I'm giving up");
        }
    } catch (...) {
        nsLog("generic exception");
    }
    return m_renderer != nullptr;
}

void Render::setPublishedInputs() {
    auto inputValues = m_settings.inputValues();
    const PlistDict* values = inputValues ? inputValues->asDict() : nullptr;
    if (values) {
        PlistDict attributes = m_renderer->attributes();
        for (const std::string& key : m_renderer->inputKeys()) {
            const PlistValue* value = values->find(key);
            if (!value) continue;
            const PlistValue* attribute = attributes.find(key);
            const PlistDict* attributeDict = attribute ? attribute->asDict() : nullptr;
            const PlistValue* type =
                attributeDict ? attributeDict->find(QCPortAttributeTypeKey) : nullptr;
            std::string portType = type ? type->stringValue() : "";
            if (portType == QCPortTypeString) {
                m_renderer->setValue(*value, key);
            } else if (portType == QCPortTypeBoolean) {
                m_renderer->setValue(PlistValue(value->boolValue()), key);
            } else if (portType == QCPortTypeIndex) {
                m_renderer->setValue(PlistValue(value->intValue()), key);
            } else if (portType == QCPortTypeNumber) {
                m_renderer->setValue(PlistValue(value->doubleValue()), key);
            }
        }
    }
    // Fixed inputs override the user's; a composition without them renders the same.
    setFixedInput("LumivaneRender", PlistValue(true));
    setFixedInput("LumivaneAntialias", PlistValue(m_plan.downscale));
    setFixedInput("LumivaneMotionBlur", PlistValue(static_cast<double>(m_plan.extraSubframes)));
}

void Render::setFixedInput(const char* key, const PlistValue& value) {
    try {
        m_renderer->setValue(value, key);
    } catch (...) {
    }
}

// Carries the composition's state and the recorded input up to the start time.
void Render::preRoll() {
    if (!(m_plan.startTime > 0)) return;
    double step = m_plan.extraSubframes > 0 ? m_plan.subframeDuration : m_plan.frameDuration;
    double advance = step * m_plan.timeScale;
    for (long long k = 0;; ++k) {
        double time = static_cast<double>(k) * step * m_plan.timeScale;
        if (!(time < m_plan.startTime)) break;
        terminationCheckpoint();
        m_progress.reportPreRoll(time, m_plan.startTime);
        renderAt(time);
        m_renderer->finish();
        // A time scale of 0 or less never reaches the start: one render is all it gets.
        if (!(advance > 0)) break;
    }
}

FrameImage Render::directFrame() {
    if (m_plan.floatFrames) return m_renderer->createSnapshotImageFloat();
    return m_renderer->createSnapshotImage();
}

FrameImage Render::accumulatedFrame(double frameTime) {
    const int samples = m_plan.extraSubframes + 1;
    const float weight = static_cast<float>(1.0 / (m_plan.extraSubframes + 1.0));
    m_renderer->clearAccumulator();
    for (int j = 0; j < samples; ++j) {
        m_progress.reportSubframe(j, samples);
        m_renderer->accumulate(m_plan.extraSubframes > 0 ? weight : 1.0f);
        if (j < m_plan.extraSubframes) {
            terminationCheckpoint();
            renderAt(frameTime + (j + 1) * m_plan.subframeDuration * m_plan.timeScale);
        }
    }
    if (m_plan.floatFrames) return m_renderer->accumulatorImageFloat();
    return m_renderer->accumulatorImage();
}

int Render::renderFrames() {
    m_progress.startFrames();
    const bool direct = m_plan.usesDirectLoop();
    for (int i = 0; i < m_plan.frameCount; ++i) {
        terminationCheckpoint();
        m_renderer->clear();
        m_progress.reportFrame(i, m_plan.frameCount);
        double frameTime = m_plan.startTime + i * m_plan.frameDuration * m_plan.timeScale;
        try {
            renderAt(frameTime);
        } catch (...) {
            // The frame goes on with whatever the renderer holds.
        }
        FrameImage frame = direct ? directFrame() : accumulatedFrame(frameTime);
        if (auto failure = m_output->addFrame(i, std::move(frame))) return failOutput(*failure);
        runLoopPass();
    }
    return 0;
}

int Render::run() {
    setTerminationFrameCount(m_plan.frameCount);
    if (verbosityLevel() != 0) echoSettings(m_settings, m_plan);
    m_progress.indicateStatus("preparing to encode");

    if (!loadComposition())
        return fail("LumivaneCLI: Failed to load composition [" +
                        m_settings.compositionFile().value_or("(null)") + "]",
                    "Failed to load the Composition");
    if (!createRenderer())
        return fail("LumivaneCLI: Failed to create QC Renderer",
                    "Failed to create offscreen renderer");
    // Downscaling and motion blur both go through the output-size accumulator.
    if (!m_plan.usesDirectLoop()) {
        auto accumulator = m_renderer->createAccumulator(m_plan.width, m_plan.height);
        if (!accumulator) {
            logLine("LumivaneCLI: " + accumulator.error());
            return fail("LumivaneCLI: Failed to create motion blur accumulator",
                        "Failed to create offscreen renderer");
        }
    }

    setPublishedInputs();
    m_output = FrameOutput::forCodec(m_settings.codec().value_or(""));
    m_events = m_settings.events();
    m_cursor = 0;
    int frameWidth = m_plan.usesDirectLoop() ? m_renderer->width() : m_plan.width;
    int frameHeight = m_plan.usesDirectLoop() ? m_renderer->height() : m_plan.height;
    // A misspelt codec or an unwritable path is told before a long pre-roll.
    if (auto failure = m_output->check(m_settings, frameWidth, frameHeight))
        return failOutput(*failure);
    preRoll();

    if (auto failure = m_output->open(m_settings, m_plan.frameCount, frameWidth, frameHeight))
        return failOutput(*failure);

    if (int result = renderFrames(); result != 0) return result;

    m_renderer.reset();
    if (auto failure = m_output->finish()) return failOutput(*failure);
    m_progress.reportCompletion();
    return 0;
}

}  // namespace

int renderComposition(RenderSettings& settings) {
    Render render(settings);
    return render.run();
}

}  // namespace lumivane
