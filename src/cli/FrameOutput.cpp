#include "cli/FrameOutput.h"

#include "base/Log.h"
#include "cli/TerminationPath.h"
#include "platform/media/ImageSequence.h"
#include "platform/media/MovieWriter.h"

namespace lumivane {
namespace {

constexpr const char* kSequencePathLine =
    "LumivaneCLI: Failed to create sequence path -- directory is in use perhaps?";

// The movie the termination path finishes. It is cleared before the movie is
// finished or released, so it never names a movie that is done.
std::shared_ptr<MovieWriter> g_currentMovie;

std::string movieFailureLine(const std::string& what) {
    return "LumivaneCLI: Error creating Movie (" + what + ")";
}

FrameOutputFailure movieFailure(const std::string& what) {
    return {movieFailureLine(what), ""};
}

// Runs on the main thread between frames, so it may log. The exit status
// stays 0 either way: the fragments already written still play.
void flushCurrentMovie() {
    std::shared_ptr<MovieWriter> movie = std::move(g_currentMovie);
    g_currentMovie = nullptr;
    if (!movie) return;
    auto finished = movie->updateMovieFile();
    if (!finished) logLine(movieFailureLine(finished.error()));
}

}  // namespace

FrameOutput::~FrameOutput() {
    if (g_currentMovie == m_movie) g_currentMovie = nullptr;
}

std::unique_ptr<FrameOutput> FrameOutput::forCodec(const std::string& codec) {
    auto output = std::unique_ptr<FrameOutput>(new FrameOutput());
    output->m_codec = codec;
    output->m_isImageSequence = isImageSequenceType(codec);
    return output;
}

std::optional<FrameOutputFailure> FrameOutput::open(const RenderSettings& settings, int frameCount,
                                                    int width, int height) {
    std::string path = settings.moviePath().value_or("");
    if (m_isImageSequence) {
        auto sequence = ImageSequenceWriter::open(path, m_codec, frameCount, settings.quality());
        if (!sequence) return FrameOutputFailure{kSequencePathLine, sequence.error()};
        m_sequence = std::move(sequence.value());
        return std::nullopt;
    }
    auto movie =
        MovieWriter::create(path, m_codec, settings.quality(), settings.framerate(), width, height);
    if (!movie) return movieFailure(movie.error());
    m_movie = std::shared_ptr<MovieWriter>(std::move(movie.value()));
    g_currentMovie = m_movie;
    setTerminationFlush(flushCurrentMovie);
    return std::nullopt;
}

std::optional<FrameOutputFailure> FrameOutput::addFrame(int index, const FrameImage& frame) {
    if (m_sequence) {
        auto written = m_sequence->writeFrame(index, frame);
        if (!written) return FrameOutputFailure{kSequencePathLine, written.error()};
        return std::nullopt;
    }
    if (m_movie) {
        auto added = m_movie->addFrame(frame);
        if (!added)
            return FrameOutputFailure{"LumivaneCLI: Error writing Movie (" + added.error() + ")",
                                      ""};
    }
    return std::nullopt;
}

std::optional<FrameOutputFailure> FrameOutput::finish() {
    if (!m_movie) return std::nullopt;
    if (g_currentMovie == m_movie) g_currentMovie = nullptr;
    auto finished = m_movie->updateMovieFile();
    m_movie.reset();
    if (!finished) return movieFailure(finished.error());
    return std::nullopt;
}

}  // namespace lumivane
