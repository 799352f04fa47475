#include "cli/FrameOutput.h"

#include <unistd.h>

#include <filesystem>

#include "base/Log.h"
#include "base/SystemError.h"
#include "cli/TerminationPath.h"
#include "platform/media/CodecRegistry.h"
#include "platform/media/EncoderSettings.h"
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

// The fragmented movie is completed first (encoder drained, last fragment
// written), so that whatever stops the rewrite after it loses no frame.
Result<void> finishMovie(MovieWriter& movie) {
    if (auto completed = movie.finishFragments(); !completed) return completed;
    beginMovieRewrite();
    auto rewritten = movie.updateMovieFile();
    endMovieRewrite();
    return rewritten;
}

// Runs on the main thread between frames, so it may log. The exit status
// stays 0 either way: the fragments already written still play.
void flushCurrentMovie() {
    std::shared_ptr<MovieWriter> movie = std::move(g_currentMovie);
    g_currentMovie = nullptr;
    if (!movie) return;
    auto finished = finishMovie(*movie);
    if (!finished) logLine(movieFailureLine(finished.error()));
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

std::optional<FrameOutputFailure> FrameOutput::check(const RenderSettings& settings, int width,
                                                     int height) const {
    const std::string path = settings.moviePath().value_or("");
    std::error_code ec;
    if (m_isImageSequence) {
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
    const std::optional<CodecInfo> codec = codecForFourCC(m_codec);
    if (!codec) return movieFailure("'" + m_codec + "' is not an installed codec");
    if (auto encoder = encoderSettings(*codec, settings.quality(), width, height); !encoder)
        return movieFailure(describeAt(path, encoder.error()));
    if (std::filesystem::is_directory(path, ec))
        return movieFailure(describeAt(path, "is a directory"));
    if (auto unwritable = unwritablePlace(path)) return movieFailure(*unwritable);
    return std::nullopt;
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
        setTerminationFramesHeld(++m_framesHeld);
        return std::nullopt;
    }
    if (m_movie) {
        auto added = m_movie->addFrame(frame);
        if (!added)
            return FrameOutputFailure{"LumivaneCLI: Error writing Movie (" + added.error() + ")",
                                      ""};
        setTerminationFramesHeld(++m_framesHeld);
    }
    return std::nullopt;
}

std::optional<FrameOutputFailure> FrameOutput::finish() {
    if (!m_movie) return std::nullopt;
    if (g_currentMovie == m_movie) g_currentMovie = nullptr;
    auto finished = finishMovie(*m_movie);
    m_movie.reset();
    if (!finished) return movieFailure(finished.error());
    return std::nullopt;
}

}  // namespace lumivane
