// An audio track being written into a movie: takes interleaved float samples
// and writes the encoded packets through the muxer, interleaved with the
// video by FFmpeg. AAC is fed whole 1024-sample frames, the last one short;
// its priming (the encoder's delay) goes in as negative times, which the
// QuickTime and MP4 muxers write as an edit list, so the track starts and
// ends on the samples it was given. PCM packets hold what each call gave.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "platform/media/FFmpegHandles.h"

struct SwrContext;

namespace lumivane {

struct AudioFormat {
    AVCodecID codec = AV_CODEC_ID_NONE;  // AAC, or a PCM code
    int rate = 0;
    int channels = 0;
    int64_t bitRate = 0;  // lossy codecs; 0 picks one by the channel count
};

class MovieAudioTrack {
public:
    // Adds the track to `muxer`, whose header is not written yet. `path`
    // names the movie in messages.
    static Result<std::unique_ptr<MovieAudioTrack>> create(AVFormatContext& muxer,
                                                           const AudioFormat& format,
                                                           const std::string& path);
    // A container's refusal of the codec, told before anything is made.
    static std::optional<std::string> containerProblem(const char* muxer, AVCodecID codec);
    ~MovieAudioTrack();

    // `count` frames of `channels` interleaved samples.
    Result<void> write(const float* samples, int64_t count);
    // Encodes what is left and drains the encoder; nothing is taken after.
    Result<void> finish();
    int64_t samplesTaken() const { return m_taken; }
    const AVStream& stream() const { return *m_stream; }

private:
    MovieAudioTrack() = default;
    Result<void> openEncoder(const AudioFormat& format);
    Result<void> encode(const float* samples, int count);
    Result<void> send(const AVFrame* frame);
    Error failure(const std::string& what) const;

    std::string m_path;
    AVFormatContext* m_muxer = nullptr;  // the movie writer's
    AVStream* m_stream = nullptr;        // owned by m_muxer
    AVCodecContextUPtr m_encoder;
    AVFrameUPtr m_frame;
    AVPacketUPtr m_packet;
    std::unique_ptr<SwrContext, void (*)(SwrContext*)> m_converter{nullptr, nullptr};
    int m_channels = 0;
    int m_frameSize = 0;           // 0: any count per packet
    std::vector<float> m_pending;  // fewer than m_frameSize frames, waiting for more
    int64_t m_taken = 0;
    int64_t m_sent = 0;  // samples handed to the encoder: the next frame's time
    bool m_finished = false;
};

}  // namespace lumivane
