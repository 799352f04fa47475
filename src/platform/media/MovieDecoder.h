// A movie's video decoded in presentation order and converted to RGBA, one
// frame at a time; used by one thread at a time (MovieFrameSource's decoder).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "platform/media/FFmpegHandles.h"

namespace lumivane {

struct MovieFrame {
    int width = 0;
    int height = 0;
    // Straight alpha, rows bottom first; floats (0-1) where the source has
    // more than 8 bits and they were asked for, else bytes.
    std::vector<uint8_t> rgba;
    std::vector<float> rgbaFloat;
    bool isFloat() const { return !rgbaFloat.empty(); }
};

struct MovieSourceOptions {
    // Frames larger than this a side are scaled down to fit (the GPU's limit).
    int maxSide = 1 << 30;
    // Sources of more than 8 bits a channel decode to floats.
    bool keepDepth = false;
    // Frames a second of an image sequence; 0 for FFmpeg's default (25).
    double sequenceRate = 0;
};

class MovieDecoder {
public:
    struct Decoded {
        double start = 0;  // seconds from the movie's first frame
        AVFrameUPtr frame;
    };

    // A movie with a decodable video stream, or an image sequence whose
    // path holds a printf-style number (frame-%04d.png).
    static Result<std::unique_ptr<MovieDecoder>> open(const std::string& path,
                                                      const MovieSourceOptions& options);
    // Whether `path` names a sequence pattern rather than one file.
    static bool isSequencePattern(const std::string& path);

    // The next frame in presentation order; none at the end.
    Result<std::optional<Decoded>> next();
    // Positions so that next() gives the frame showing at `seconds` (the
    // first frame if it starts later), then the frames after it.
    Result<void> seek(double seconds);
    Result<void> convert(const AVFrame& frame, MovieFrame& out);

    double firstStart() const { return m_firstStart; }
    // From the first frame's start to the end of the last; 0 when unknown.
    double length() const { return m_length; }
    // How far a frame's stored start may lie from its true one: half a tick
    // of a clock that cannot count whole frames (Matroska's millisecond at
    // 30 frames a second), else 0.
    double timeRounding() const { return m_timeRounding; }
    // Size of the converted frames.
    int width() const { return m_outWidth; }
    int height() const { return m_outHeight; }
    long long frameBytes() const { return (m_float ? 16LL : 4LL) * m_outWidth * m_outHeight; }
    const std::string& path() const { return m_path; }

private:
    MovieDecoder() = default;
    Result<void> openInput(const MovieSourceOptions& options);
    Result<void> openDecoder();
    Result<void> planOutput(const AVFrame& first, const MovieSourceOptions& options);
    Result<std::optional<Decoded>> decode();
    Result<void> seekAt(int64_t target);
    Error failure(const std::string& what) const { return errorAt(m_path, what); }

    std::string m_path;
    AVInputFormatContextUPtr m_format;
    AVCodecContextUPtr m_decoder;
    AVPacketUPtr m_packet;
    SwsContextUPtr m_scaler;
    int m_stream = -1;
    double m_timeBase = 0;
    int64_t m_firstPts = 0;
    double m_firstStart = 0;
    double m_length = 0;
    double m_timeRounding = 0;
    int m_outWidth = 0;
    int m_outHeight = 0;
    bool m_float = false;
    // Decoded while seeking, given out by next() before decoding more.
    std::deque<Decoded> m_ready;
};

}  // namespace lumivane
