// A render's soundtrack in its movie. Sample m of the whole render's track
// is the source's sample at round(start x rate) + m, where `start` is the
// composition time of the render's first frame; the track of a movie whose
// frames start at render frame f begins at sample S(f), where
// S(k) = round(k x frameDuration x rate) counts the samples before frame k.
// So the movie of frames [f, g) carries samples [S(f), S(g)): chunks tile the
// whole render's track sample for sample, and each frame's audio is written
// with the frame, which keeps a fragmented movie's sound in step with its
// pictures.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "platform/media/FFmpegHandles.h"

namespace lumivane {

class MovieAudioTrack;
class SoundtrackReader;

// What a render asks of its soundtrack.
struct SoundtrackRequest {
    std::string path;      // any file with an audio stream
    double startTime = 0;  // composition time of the render's frame 0, in seconds
    int firstFrame = 0;    // the movie's first frame in the render, from 0
    bool pcm = false;      // PCM even where the video is lossy
    bool aac = false;      // AAC even where the video keeps every frame whole
};

class MovieSoundtrack {
public:
    // Opens the source; the codec is AAC unless PCM is asked for or the
    // video codec `videoCodec` keeps every frame whole (intra-only or
    // lossless), when the sound should not be the one lossy part.
    static Result<std::unique_ptr<MovieSoundtrack>> open(const SoundtrackRequest& request,
                                                         AVCodecID videoCodec);
    // The container's refusal of the track, found without writing anything.
    std::optional<std::string> containerProblem(const char* muxer) const;
    ~MovieSoundtrack();

    // Adds the track; before the movie's header is written. Frames last
    // frameTicks / timescale seconds.
    Result<void> addTrack(AVFormatContext& muxer, const std::string& moviePath, int timescale,
                          int frameTicks);
    // Writes the samples up to the end of the movie's frame `frames` - 1.
    Result<void> writeThrough(int64_t frames);
    // Writes up to the end of the last frame and drains the encoder.
    Result<void> finish(int64_t frames);
    AVCodecID codec() const { return m_codec; }

private:
    MovieSoundtrack() = default;
    int64_t samplesBefore(int64_t renderFrame) const;

    std::unique_ptr<SoundtrackReader> m_reader;
    std::unique_ptr<MovieAudioTrack> m_track;
    SoundtrackRequest m_request;
    AVCodecID m_codec = AV_CODEC_ID_NONE;
    int m_timescale = 1;
    int m_frameTicks = 1;
    int64_t m_sourceOrigin = 0;  // the source's sample at the render's frame 0
    std::vector<float> m_samples;
};

}  // namespace lumivane
