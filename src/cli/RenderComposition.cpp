#include "cli/RenderComposition.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "base/Log.h"
#include "cli/AudioInputs.h"
#include "cli/EventReplay.h"
#include "cli/FrameOutput.h"
#include "cli/MovieInputs.h"
#include "cli/ProgressReporter.h"
#include "cli/RenderFingerprint.h"
#include "cli/RenderPlan.h"
#include "cli/RendererState.h"
#include "cli/StoppableWait.h"
#include "cli/TerminationPath.h"
#include "platform/engine/Composition.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/OffscreenRenderer.h"
#include "platform/engine/YuvConversion.h"

namespace lumivane {
namespace {

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
        : m_settings(settings),
          m_plan(RenderPlan::forSettings(settings)),
          m_progress(settings.appController()) {}

    int run();

private:
    int fail(const std::string& consoleLine, const std::string& errorText) {
        logLine(consoleLine);
        m_progress.indicateError(errorText);
        return -1;
    }
    // The settings ask for what no render does; the caller decides whose fault.
    int refuse(const std::string& problem) {
        logLine("LumivaneCLI: " + problem);
        m_progress.indicateError(problem);
        return kRenderRefused;
    }
    int failOutput(const FrameOutputFailure& failure) {
        if (!failure.detail.empty()) logLine("LumivaneCLI: " + failure.detail);
        return fail(failure.consoleLine, "failed to create movie");
    }

    bool loadComposition();
    std::optional<std::string> startProblem() const;
    std::optional<YuvLayout> gpuConversion(int width, int height) const;
    bool createRenderer();
    std::unique_ptr<OffscreenRenderer> tryRenderer(ColorSpace colorSpace);
    std::optional<std::string> setPublishedInputs();
    std::optional<std::string> loadImageInputs();
    void setFixedInput(const char* key, const PlistValue& value);
    void startAtFirstFrame();
    std::string carriedState() const;
    void preRoll(double endTime);
    void preRollFrames();
    int renderFrames();
    void accumulateFrame(double frameTime);
    int readBackFrame(int index);
    int addFrameInFlight();
    void checkpoint();
    void renderAt(double time) {
        auto shown = m_movies.showAt(*m_renderer, time);
        if (!shown && !m_movieProblem) m_movieProblem = shown.error();
        renderAtTimeWithEvents(*m_renderer, m_events.get(), m_cursor, time);
    }
    int failSoundtrack(const std::string& when) {
        return fail("LumivaneCLI: " + *m_audio.problem() + " (" + when + ")",
                    "Failed to read the soundtrack " + when);
    }
    int failMovie(const std::string& when) {
        return fail("LumivaneCLI: " + *m_movieProblem + " (" + when + ")",
                    "Failed to read an image input's movie " + when);
    }

    RenderSettings& m_settings;
    RenderPlan m_plan;
    ProgressReporter m_progress;
    std::shared_ptr<Composition> m_composition;
    std::unique_ptr<OffscreenRenderer> m_renderer;
    std::unique_ptr<FrameOutput> m_output;
    std::shared_ptr<const EventArray> m_events;
    size_t m_cursor = 0;
    // The frame on its way back from the GPU while the next one renders.
    std::optional<std::pair<int, ReadbackTicket>> m_inFlight;
    // Set when frames leave the GPU as the encoder's planes.
    std::optional<YuvLayout> m_yuvLayout;
    MovieInputs m_movies;
    AudioInputs m_audio;
    // A movie that broke while rendering: the render fails at the frame.
    std::optional<std::string> m_movieProblem;
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

// Nothing when every value was set or may be left aside; else why the render
// cannot go on.
std::optional<std::string> Render::setPublishedInputs() {
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
    return std::nullopt;
}

// Image inputs take a file, relative to the working directory; one that
// cannot be drawn stops the render before anything is written.
std::optional<std::string> Render::loadImageInputs() {
    auto inputValues = m_settings.inputValues();
    const PlistDict* values = inputValues ? inputValues->asDict() : nullptr;
    if (!values) return std::nullopt;
    for (const CompositionInput& input : m_composition->inputs()) {
        const PlistValue* value = values->find(input.name);
        if (input.type != InputType::Image || !value || !value->isString()) continue;
        const std::string& path = *value->asString();
        try {
            // A large image, or one slow to arrive over the network.
            auto problem = runStoppable([&]() -> std::optional<std::string> {
                auto movie = m_movies.take(input.name, path, *values, *m_renderer, *m_composition);
                if (!movie) return movie.error();
                if (!movie.value()) m_renderer->setValue(*value, input.name);
                return std::nullopt;
            });
            if (problem) return problem;
        } catch (const EngineError& error) {
            return error.what();
        }
    }
    return std::nullopt;
}

void Render::setFixedInput(const char* key, const PlistValue& value) {
    try {
        m_renderer->setValue(value, key);
    } catch (...) {
    }
}

// Carries the composition's state and the recorded input up to the start
// time; `endTime` is where the progress line counts to.
void Render::preRoll(double endTime) {
    if (!(m_plan.startTime > 0)) return;
    for (long long k = 0;; ++k) {
        double time = m_plan.preRollTime(k);
        if (!(time < m_plan.startTime)) break;
        terminationCheckpoint();
        m_progress.reportPreRoll(time, endTime);
        renderAt(time);
        m_renderer->finish();
        // A time scale of 0 or less never reaches the start: one render is all it gets.
        if (!(m_plan.preRollTime(1) > 0)) break;
    }
}

// The whole render's frames before the first one this run writes, each
// rendered as the frame loop renders it, then its motion-blur samples, but
// never read back.
void Render::preRollFrames() {
    const double endTime = m_plan.frameTime(m_plan.firstFrame);
    for (int i = 0; i < m_plan.firstFrame; ++i) {
        const double frameTime = m_plan.frameTime(i);
        terminationCheckpoint();
        m_progress.reportPreRoll(frameTime, endTime);
        m_renderer->clear();
        try {
            renderAt(frameTime);
        } catch (...) {
            // As in the frame loop: the render goes on.
        }
        m_renderer->finish();
        for (int j = 1; j <= m_plan.extraSubframes; ++j) {
            terminationCheckpoint();
            renderAt(m_plan.subframeTime(frameTime, j));
            m_renderer->finish();
        }
    }
}

// What the renders before the first frame leave for it besides their count
// and last time; empty when nothing.
std::string Render::carriedState() const {
    const bool persistent = m_composition->keepsStateBetweenRenders();
    const bool recorded = m_events && !m_events->empty();
    if (persistent && recorded) return "persistent buffers and recorded input";
    if (persistent) return "persistent buffers";
    if (recorded) return "recorded input";
    return "";
}

// Brings the engine to the state the whole render has at the first frame
// this run writes: by rendering everything before it where renders leave
// state, else by telling the engine how many renders came before.
void Render::startAtFirstFrame() {
    const RenderPlan::History history = m_plan.historyBefore(m_plan.firstFrame);
    const std::string state = carriedState();
    if (m_plan.ranged && verbosityLevel() != 0) {
        const std::string why =
            state.empty() ? "the composition keeps no state between frames, so no pre-roll"
                          : state + ", so pre-rolling through " + std::to_string(history.renders) +
                                " earlier renders";
        nsLog("Frames %i-%i of %i: %s", m_plan.firstFrame + 1, m_plan.endFrame, m_plan.frameCount,
              why.c_str());
    }
    if (state.empty()) {
        m_renderer->setRenderHistory(
            static_cast<int>(std::min<long long>(history.renders, INT_MAX)), history.lastTime);
        return;
    }
    preRoll(m_plan.frameTime(m_plan.firstFrame));
    preRollFrames();
}

// What makes the render impossible before anything is rendered: a pre-roll
// no machine would finish. One that carries no state is never rendered.
std::optional<std::string> Render::startProblem() const {
    if (carriedState().empty()) return std::nullopt;
    if (auto problem = m_plan.preRollProblem())
        return *problem + " (the composition keeps " + carriedState() + ")";
    return std::nullopt;
}

void Render::accumulateFrame(double frameTime) {
    const int samples = m_plan.extraSubframes + 1;
    const float weight = static_cast<float>(1.0 / (m_plan.extraSubframes + 1.0));
    for (int j = 0; j < samples; ++j) {
        m_progress.reportSubframe(j, samples);
        m_renderer->accumulate(m_plan.extraSubframes > 0 ? weight : 1.0f);
        if (j < m_plan.extraSubframes) {
            checkpoint();
            renderAt(m_plan.subframeTime(frameTime, j + 1));
        }
    }
}

// A stop keeps every rendered frame, the one still on its way back too.
void Render::checkpoint() {
    if (terminationRequested()) (void)addFrameInFlight();  // the stop reports what failed
    terminationCheckpoint();
}

int Render::addFrameInFlight() {
    if (!m_inFlight) return 0;
    const auto [index, ticket] = *m_inFlight;
    m_inFlight.reset();
    auto frame = m_renderer->takeReadback(ticket);
    if (!frame) {
        logLine("LumivaneCLI: " + frame.error());
        return fail("LumivaneCLI: Failed to read back frame " + std::to_string(index + 1),
                    "failed to create movie");
    }
    if (auto failure = m_output->addFrame(index, std::move(*frame))) return failOutput(*failure);
    return 0;
}

// Frames go to a YUV encoder as planes made on the GPU, unless
// LUMIVANE_GPU_CONVERT=0 asks for swscale. Where the GPU is a software
// rasterizer its shaders cost the CPU more than swscale's SIMD does, so
// swscale converts there unless LUMIVANE_GPU_CONVERT=1 insists.
std::optional<YuvLayout> Render::gpuConversion(int width, int height) const {
    const auto layout = m_output->yuvLayout();
    if (!layout || !YuvConversion::supports(*layout, width, height)) return std::nullopt;
    const char* wanted = std::getenv("LUMIVANE_GPU_CONVERT");
    const std::string choice = wanted ? wanted : "";
    if (choice == "0" || (choice != "1" && m_renderer->rasterizesOnCpu())) return std::nullopt;
    return layout;
}

// Starts reading frame `index` back and hands the previous one to the output.
int Render::readBackFrame(int index) {
    const auto source =
        m_plan.usesDirectLoop() ? ReadbackSource::Render : ReadbackSource::Accumulator;
    const auto samples = m_plan.floatFrames ? TargetFormat::RGBAFloat : TargetFormat::RGBA8;
    auto ticket = m_yuvLayout ? m_renderer->beginReadback(source, *m_yuvLayout)
                              : m_renderer->beginReadback(source, samples);
    if (!ticket) {
        logLine("LumivaneCLI: " + ticket.error());
        return fail("LumivaneCLI: Failed to read back frame " + std::to_string(index + 1),
                    "failed to create movie");
    }
    if (int result = addFrameInFlight(); result != 0) return result;
    m_inFlight.emplace(index, *ticket);
    return 0;
}

int Render::renderFrames() {
    m_progress.startFrames();
    const bool direct = m_plan.usesDirectLoop();
    for (int i = m_plan.firstFrame; i < m_plan.endFrame; ++i) {
        checkpoint();
        m_renderer->clear();
        // Before the frame's first render, so that its samples find the batch free.
        if (!direct) m_renderer->clearAccumulator();
        m_progress.reportFrame(i - m_plan.firstFrame, m_plan.framesWritten());
        double frameTime = m_plan.frameTime(i);
        try {
            renderAt(frameTime);
        } catch (...) {
            // The frame goes on with whatever the renderer holds.
        }
        if (!direct) accumulateFrame(frameTime);
        if (m_movieProblem) return failMovie("at frame " + std::to_string(i + 1));
        if (m_audio.problem()) return failSoundtrack("at frame " + std::to_string(i + 1));
        if (int result = readBackFrame(i); result != 0) return result;
        runLoopPass();
    }
    return addFrameInFlight();
}

int Render::run() {
    if (auto range = m_settings.frameRange()) {
        if (auto problem = frameRangeProblem(*range, m_plan.frameCount))
            return fail("LumivaneCLI: " + *problem, *problem);
    }
    setTerminationFrameCount(m_plan.framesWritten());
    if (verbosityLevel() != 0) echoSettings(m_settings, m_plan);
    m_progress.indicateStatus("preparing to encode");
    // The options refuse these already; the application's record may hold anything.
    if (auto problem = timingProblem(m_settings)) return refuse(*problem);
    if (auto problem = frameCountProblem(m_settings.framerate(), m_settings.duration()))
        return refuse(*problem);

    if (!loadComposition())
        return fail("LumivaneCLI: Failed to load composition [" +
                        m_settings.compositionFile().value_or("(null)") + "]",
                    "Failed to load the Composition");
    m_events = m_settings.events();
    m_cursor = 0;
    if (auto problem = startProblem()) return refuse(*problem);
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

    if (auto problem = setPublishedInputs()) return refuse(*problem);
    if (auto problem = loadImageInputs())
        return fail("LumivaneCLI: " + *problem, "Failed to load an image input");
    // A text input that cannot be drawn would render as nothing.
    if (auto problem = m_renderer->inputProblem())
        return fail("LumivaneCLI: " + *problem, "Failed to create offscreen renderer");
    m_output = FrameOutput::forCodec(m_settings.codec().value_or(""));
    if (m_plan.ranged) m_output->setOrigin(renderFingerprint(m_settings, *m_composition, m_plan));
    int frameWidth = m_plan.usesDirectLoop() ? m_renderer->width() : m_plan.width;
    int frameHeight = m_plan.usesDirectLoop() ? m_renderer->height() : m_plan.height;
    // A misspelt codec or an unwritable path is told before a long pre-roll.
    if (auto failure = m_output->check(m_settings, m_plan.frameCount, frameWidth, frameHeight))
        return failOutput(*failure);
    if (auto fed = m_audio.feed(*m_renderer, *m_composition, m_settings.soundtrack()); !fed)
        return fail("LumivaneCLI: " + fed.error(), "Failed to read the soundtrack");
    startAtFirstFrame();
    if (m_movieProblem) return failMovie("before the first frame");
    if (m_audio.problem()) return failSoundtrack("before the first frame");

    if (auto failure = m_output->open(m_settings, m_plan.frameCount, frameWidth, frameHeight))
        return failOutput(*failure);
    m_yuvLayout = gpuConversion(frameWidth, frameHeight);

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
