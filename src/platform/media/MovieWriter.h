// Writes frames into a movie in the container the path's extension names
// (QuickTime by default). While frames arrive a QuickTime or MP4 movie is
// fragmented, a Matroska or WebM one cut into clusters (at most one second
// each, each flushed to the file), so a process killed mid-render leaves a
// movie that plays every finished fragment. Finishing takes two steps:
// finishFragments() completes the file, updateMovieFile() then rewrites a
// fragmented one as an ordinary movie with its index in front.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/Image.h"
#include "base/Result.h"
#include "platform/media/CodecInfo.h"
#include "platform/media/EncoderSettings.h"
#include "platform/media/FFmpegHandles.h"
#include "platform/media/FrameConverter.h"
#include "platform/media/MovieChunk.h"
#include "platform/media/MovieContainer.h"
#include "platform/media/MovieSoundtrack.h"

namespace lumivane {

class MovieWriter {
public:
    // Every frame lasts 600 in a time scale of framerate x 600 (truncated).
    // Fails when the code is no installed codec ("'xxxx' is not an installed
    // codec"), the container cannot hold it, the encoder refuses the settings, or the file cannot
    // be created. A movie that holds a chunk of a split render carries it in its metadata
    // (kMovieChunkKey) for the join; one without is the whole render. A
    // soundtrack is written with the frames, each frame's samples with it.
    static Result<std::unique_ptr<MovieWriter>> create(
        const std::string& path, const std::string& fourcc, int quality, double framerate,
        int width, int height, std::optional<MovieChunk> chunk = std::nullopt,
        std::optional<SoundtrackRequest> soundtrack = std::nullopt);
    // What create() would refuse before it touches a file, told without
    // creating anything.
    static Result<void> check(const std::string& path, const std::string& fourcc, int quality,
                              double framerate, int width, int height,
                              std::optional<MovieChunk> chunk = std::nullopt,
                              std::optional<SoundtrackRequest> soundtrack = std::nullopt);
    // Threads each encoder opened later may use; 0 (the default) lets it
    // take as many as the machine has. Benchmarks pin it to show overlap.
    static void setEncoderThreads(int threads);

    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;
    ~MovieWriter();

    // Frames of another size are scaled to the movie's size.
    Result<void> addFrame(const FrameImage& frame);
    // Drains the encoder, writes the last fragment and the trailer and closes
    // the file: the fragmented movie on disk then holds every frame added.
    // Safe between any two frames; afterwards no frames are taken. Later calls
    // return the first call's outcome.
    Result<void> finishFragments();
    // finishFragments() unless done, then rewrites the file as an ordinary
    // movie; a failed finishFragments() is reported and nothing is rewritten.
    // Later calls return the first call's outcome.
    Result<void> updateMovieFile();

    // True once updateMovieFile() ran: the file is as it stays. After
    // finishFragments() alone it is false (no frames are taken, but the
    // rewrite is still to come).
    bool isFinished() const { return m_updated.has_value(); }
    int framesWritten() const { return m_framesWritten; }
    // The planes addFrame() takes from the GPU instead of RGBA, if any.
    std::optional<YuvLayout> yuvLayout() const { return FrameConverter::yuvLayout(m_settings); }
    int timescale() const { return m_timescale; }
    const std::string& path() const { return m_path; }

private:
    MovieWriter(std::string path, CodecInfo codec, EncoderSettings settings, int timescale,
                int width, int height, std::optional<MovieChunk> chunk);
    Result<void> openEncoder();
    Result<void> openMuxer();
    void setMuxerOptions(AVOptions& options);
    Result<void> encode(const AVFrame* frame);
    void repairDecodingTime(AVPacket& packet);
    std::string failure(const std::string& what) const;

    std::string m_path;
    CodecInfo m_codec;
    EncoderSettings m_settings;
    int m_timescale;
    int m_width;
    int m_height;
    std::optional<MovieChunk> m_chunk;
    std::unique_ptr<MovieSoundtrack> m_soundtrack;
    MovieContainer m_container;  // by the path's extension
    AVCodecContextUPtr m_encoder;
    AVOutputFormatContextUPtr m_muxer;
    AVStream* m_stream = nullptr;        // owned by m_muxer
    AVCodecParametersUPtr m_parameters;  // the stream's, kept for the rewrite
    AVPacketUPtr m_packet;
    FrameConverter m_converter;
    int m_framesWritten = 0;
    int64_t m_lastDts = AV_NOPTS_VALUE;  // the last packet's, in the encoder's time base
    std::optional<Result<void>> m_fragmentsFinished;
    std::optional<Result<void>> m_updated;
};

}  // namespace lumivane
