// A movie read as an image input: for a time in seconds from the movie's
// first frame, the frame whose presentation interval holds it (the first
// frame before it starts, the last one after it ends). A forward render
// decodes each frame once; a time earlier than the frame shown seeks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Result.h"
#include "platform/media/FFmpegHandles.h"

namespace lumivane {

struct MovieFrame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // straight alpha, rows bottom first
};

class MovieFrameSource {
public:
    // A file FFmpeg reads as a movie with a decodable video stream; single
    // pictures (which FFmpeg also reads) are not movies here.
    static Result<std::unique_ptr<MovieFrameSource>> open(const std::string& path);
    // Whether FFmpeg reads the regular file `path` as a container rather
    // than a single picture, so that its failures are a movie's to tell.
    static bool looksLikeMovie(const std::string& path);

    // The frame for `seconds`; `changed` says whether it differs from the
    // one the last call gave.
    Result<const MovieFrame*> frameAt(double seconds, bool& changed);

private:
    struct Decoded {
        AVFrameUPtr frame;
        double start = 0;
    };
    MovieFrameSource() = default;
    Result<void> openDecoder();
    // The next frame in decoding order; none at the end of the stream.
    Result<Decoded> decodeNext();
    Result<void> seekTo(double seconds);
    Result<void> convert(const AVFrame& frame);
    Error failure(const std::string& what) const;

    std::string m_path;
    AVInputFormatContextUPtr m_format;
    AVCodecContextUPtr m_decoder;
    AVPacketUPtr m_packet;
    SwsContextUPtr m_scaler;
    int m_stream = -1;
    double m_timeBase = 0;
    int64_t m_firstPts = 0;
    double m_firstStart = 0;
    Decoded m_current;
    Decoded m_next;
    bool m_converted = false;
    MovieFrame m_frame;
};

}  // namespace lumivane
