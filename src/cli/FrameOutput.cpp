#include "cli/FrameOutput.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <utility>

#include "base/Log.h"
#include "base/SystemError.h"
#include "cli/OutputStage.h"
#include "cli/TerminationPath.h"
#include "platform/media/AnimationWriter.h"
#include "platform/media/ImageSequence.h"
#include "platform/media/MovieWriter.h"
#include "platform/media/SoundtrackReader.h"

namespace lumivane {
namespace {

constexpr const char* kSequencePathLine =
    "LumivaneCLI: Failed to create sequence path -- directory is in use perhaps?";

// The output the termination path finishes. It is cleared before the output
// is finished or released, so it never names one that is done.
FrameOutput* g_currentOutput = nullptr;

std::string movieFailureLine(const std::string& what) {
    return "LumivaneCLI: Error creating Movie (" + what + ")";
}

FrameOutputFailure movieFailure(const std::string& what) {
    return {movieFailureLine(what), ""};
}

// The fragmented movie is completed first (encoder drained, last fragment
// written), so that whatever stops the rewrite after it loses no frame.
Result<void> finishMovie(MovieWriter& movie) {
    if (auto completed = movie.finishFragments(); !completed) return completed;
    beginMovieRewrite();
    auto rewritten = movie.updateMovieFile();
    endMovieRewrite();
    return rewritten;
}

// Once the kept frames are complete, building the picture from them can be
// cut short as a rewrite can: the frames stay on disk.
Result<void> finishAnimation(AnimationWriter& animation) {
    if (auto completed = animation.finishFrames(); !completed) return completed;
    beginMovieRewrite();
    auto built = animation.build();
    endMovieRewrite();
    return built;
}

// Runs on the main thread between frames, so it may log.
void flushCurrentOutput() {
    FrameOutput* output = std::exchange(g_currentOutput, nullptr);
    if (output) output->finishForStop();
}

size_t frameBytes(int width, int height, bool floatFrames) {
    return size_t(std::max(width, 0)) * size_t(std::max(height, 0)) * 4 *
           (floatFrames ? sizeof(float) : 1);
}

// The nearest directory that exists on the way to `path`.
std::filesystem::path existingAncestor(std::filesystem::path path) {
    std::error_code ec;
    path = std::filesystem::absolute(path, ec);
    while (path.has_parent_path() && path != path.parent_path() &&
           !std::filesystem::exists(path, ec)) {
        path = path.parent_path();
    }
    return path;
}

// Where the output will be created must be a directory this process may write.
std::optional<std::string> unwritablePlace(const std::string& path) {
    const std::filesystem::path place =
        existingAncestor(std::filesystem::path(path).parent_path().empty()
                             ? std::filesystem::path(".")
                             : std::filesystem::path(path).parent_path());
    std::error_code ec;
    if (!std::filesystem::is_directory(place, ec)) {
        return describeAt(path, "\"" + place.string() + "\" is not a directory");
    }
    if (::access(place.c_str(), W_OK | X_OK) != 0) {
        return describeAt(path, systemErrorText("cannot create it in \"" + place.string() + "\""));
    }
    return std::nullopt;
}

// The movie of some frames of a render says which, for the join.
std::optional<MovieChunk> movieChunk(const RenderSettings& settings, int frameCount,
                                     const std::string& origin) {
    auto range = settings.frameRange();
    if (!range) return std::nullopt;
    return MovieChunk{range->first, range->last, frameCount, origin};
}

// The soundtrack as the movie of this run's frames takes it.
std::optional<SoundtrackRequest> soundtrackRequest(const RenderSettings& settings) {
    auto path = settings.soundtrack();
    if (!path) return std::nullopt;
    const auto range = settings.frameRange();
    const std::string codec = settings.soundtrackCodec().value_or("");
    return SoundtrackRequest{*path, settings.startTime(), range ? range->first - 1 : 0,
                             codec == "pcm", codec == "aac"};
}

// One writer keeps the frames in order; a frame or two waiting keeps the
// encoder busy while the next one renders.
template <class Writer>
std::unique_ptr<OutputStage> serialStage(std::shared_ptr<Writer> writer, int width, int height) {
    return std::make_unique<OutputStage>(
        [writer](int, const FrameImage& frame) -> std::optional<FrameOutputFailure> {
            auto added = writer->addFrame(frame);
            if (!added)
                return FrameOutputFailure{
                    "LumivaneCLI: Error writing Movie (" + added.error() + ")", ""};
            return std::nullopt;
        },
        OutputStage::serialWanted() ? 0 : 1,
        OutputStage::depthFor(1, frameBytes(width, height, true)));
}

}  // namespace

FrameOutput::~FrameOutput() {
    if (g_currentOutput == this) g_currentOutput = nullptr;
}

std::unique_ptr<FrameOutput> FrameOutput::forCodec(const std::string& codec) {
    auto output = std::unique_ptr<FrameOutput>(new FrameOutput());
    output->m_codec = codec;
    output->m_isImageSequence = isImageSequenceType(codec);
    return output;
}

std::optional<FrameOutputFailure> FrameOutput::check(const RenderSettings& settings, int frameCount,
                                                     int width, int height) const {
    const std::string path = settings.moviePath().value_or("");
    std::error_code ec;
    if (m_isImageSequence) {
        if (auto soundtrack = settings.soundtrack()) {
            // Still read, so a bad file is told however the frames are written.
            if (auto reader = SoundtrackReader::open(*soundtrack); !reader)
                return FrameOutputFailure{"LumivaneCLI: Error reading the soundtrack",
                                          reader.error()};
        }
        if (std::filesystem::exists(path, ec) && !std::filesystem::is_directory(path, ec)) {
            return FrameOutputFailure{kSequencePathLine, describeAt(path, "is not a directory")};
        }
        if (std::filesystem::is_directory(path, ec)) {
            if (::access(path.c_str(), W_OK | X_OK) == 0) return std::nullopt;
            return FrameOutputFailure{kSequencePathLine,
                                      describeAt(path, systemErrorText("cannot write into it"))};
        }
        if (auto unwritable = unwritablePlace(path))
            return FrameOutputFailure{kSequencePathLine, *unwritable};
        return std::nullopt;
    }
    // Link mode passes no command line: the same refusal as the option's.
    if (settings.soundtrack() && settings.timeScale() != 1.0)
        return movieFailure("a soundtrack plays at time scale 1 only");
    const auto chunk = movieChunk(settings, frameCount, m_origin);
    if (auto checked =
            containerForPath(path).animation
                ? AnimationWriter::check(path, m_codec, settings.quality(), settings.framerate(),
                                         width, height, chunk)
                : MovieWriter::check(path, m_codec, settings.quality(), settings.framerate(), width,
                                     height, chunk, soundtrackRequest(settings));
        !checked)
        return movieFailure(checked.error());
    if (std::filesystem::is_directory(path, ec))
        return movieFailure(describeAt(path, "is a directory"));
    if (auto unwritable = unwritablePlace(path)) return movieFailure(*unwritable);
    return std::nullopt;
}

std::optional<FrameOutputFailure> FrameOutput::open(const RenderSettings& settings, int frameCount,
                                                    int width, int height) {
    std::string path = settings.moviePath().value_or("");
    if (m_isImageSequence) {
        std::optional<SequenceFrames> frames;
        if (auto range = settings.frameRange()) frames = SequenceFrames{range->first, range->last};
        // Numbered and padded as the whole render numbers them.
        auto sequence = ImageSequenceWriter::open(
            path, m_codec, frameCount, SequenceStyle{settings.quality(), settings.opaque()}, frames,
            m_origin);
        if (!sequence) return FrameOutputFailure{kSequencePathLine, sequence.error()};
        if (auto soundtrack = settings.soundtrack())
            logLine("LumivaneCLI: image sequences carry no sound; " +
                    describeAt(*soundtrack, "is not written"));
        m_sequence = std::shared_ptr<ImageSequenceWriter>(std::move(sequence.value()));
        const int workers = OutputStage::serialWanted() ? 0 : OutputStage::sequenceWorkers();
        const bool floatFrames = m_codec == "com.ilm.openexr-image";
        m_stage = std::make_unique<OutputStage>(
            [sequence = m_sequence](int index,
                                    const FrameImage& frame) -> std::optional<FrameOutputFailure> {
                auto written = sequence->writeFrame(index, frame);
                if (!written) return FrameOutputFailure{kSequencePathLine, written.error()};
                return std::nullopt;
            },
            workers, OutputStage::depthFor(workers, frameBytes(width, height, floatFrames)));
    } else if (auto failure = containerForPath(path).animation
                                  ? openAnimation(settings, frameCount, width, height)
                                  : openMovie(settings, frameCount, width, height)) {
        return failure;
    }
    g_currentOutput = this;
    setTerminationFlush(flushCurrentOutput);
    return std::nullopt;
}

std::optional<FrameOutputFailure> FrameOutput::openMovie(const RenderSettings& settings,
                                                         int frameCount, int width, int height) {
    auto movie = MovieWriter::create(
        settings.moviePath().value_or(""), m_codec, settings.quality(), settings.framerate(), width,
        height, movieChunk(settings, frameCount, m_origin), soundtrackRequest(settings));
    if (!movie) return movieFailure(movie.error());
    m_movie = std::shared_ptr<MovieWriter>(std::move(movie.value()));
    m_stage = serialStage(m_movie, width, height);
    return std::nullopt;
}

std::optional<FrameOutputFailure> FrameOutput::openAnimation(const RenderSettings& settings,
                                                             int frameCount, int width,
                                                             int height) {
    auto animation = AnimationWriter::create(settings.moviePath().value_or(""), m_codec,
                                             settings.quality(), settings.framerate(), width,
                                             height, movieChunk(settings, frameCount, m_origin));
    if (!animation) return movieFailure(animation.error());
    if (auto soundtrack = settings.soundtrack())
        logLine("LumivaneCLI: animated pictures carry no sound; " +
                describeAt(*soundtrack, "is not written"));
    m_animation = std::shared_ptr<AnimationWriter>(std::move(animation.value()));
    m_stage = serialStage(m_animation, width, height);
    return std::nullopt;
}

Result<void> FrameOutput::finishWriter() {
    Result<void> finished;
    if (m_movie) finished = finishMovie(*m_movie);
    if (m_animation) finished = finishAnimation(*m_animation);
    m_movie.reset();
    m_animation.reset();
    return finished;
}

std::optional<YuvLayout> FrameOutput::yuvLayout() const {
    if (!m_movie) return std::nullopt;
    return m_movie->yuvLayout();
}

std::optional<FrameOutputFailure> FrameOutput::addFrame(int index, FrameImage frame) {
    if (!m_stage) return std::nullopt;
    return m_stage->push(index, std::move(frame));
}

std::optional<FrameOutputFailure> FrameOutput::finish() {
    if (g_currentOutput == this) g_currentOutput = nullptr;
    if (m_stage) {
        if (auto failure = m_stage->drain()) return failure;
        setTerminationFramesHeld(m_stage->written());
    }
    if (auto finished = finishWriter(); !finished) return movieFailure(finished.error());
    return std::nullopt;
}

void FrameOutput::finishForStop() {
    if (!m_stage) return;
    // A frame that failed to write is reported with the rest of the stop.
    if (auto failure = m_stage->drain()) logLine(failure->consoleLine + " " + failure->detail);
    const int held = m_stage->written();
    // Known before the rewrite, which a further stop may cut short.
    setTerminationFramesHeld(held);
    if (auto finished = finishWriter(); !finished) logLine(movieFailureLine(finished.error()));
}

}  // namespace lumivane
