#include "platform/media/MovieDecoder.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "base/Log.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace lumivane {
namespace {

// As for still pictures: a frame decodes to at most 1 GiB of RGBA.
constexpr long long kMaxFrameBytes = 1LL << 30;

bool isSinglePicture(const AVInputFormat* format) {
    const std::string name = format->name;
    return name == "image2" || name.find("_pipe") != std::string::npos;
}

int colourMatrix(const AVFrame& frame) {
    if (frame.colorspace != AVCOL_SPC_UNSPECIFIED && frame.colorspace != AVCOL_SPC_RGB)
        return frame.colorspace;
    // Untagged: what players assume, BT.709 from HD up.
    return frame.height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
}

bool isFullRange(const AVFrame& frame) {
    if (frame.color_range == AVCOL_RANGE_JPEG) return true;
    const auto format = AVPixelFormat(frame.format);
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
           format == AV_PIX_FMT_YUVJ444P;
}

// A side scaled by `scale`, at least one pixel.
int scaledSide(int side, double scale) {
    return std::max(1, int(std::lround(side * scale)));
}

}  // namespace

bool MovieDecoder::isSequencePattern(const std::string& path) {
    for (size_t at = path.find('%'); at != std::string::npos; at = path.find('%', at + 1)) {
        size_t end = at + 1;
        while (end < path.size() && std::isdigit(static_cast<unsigned char>(path[end]))) ++end;
        if (end < path.size() && path[end] == 'd') return true;
    }
    return false;
}

Result<std::unique_ptr<MovieDecoder>> MovieDecoder::open(const std::string& path,
                                                         const MovieSourceOptions& options) {
    std::unique_ptr<MovieDecoder> decoder(new MovieDecoder());
    decoder->m_path = path;
    if (auto opened = decoder->openInput(options); !opened) return Error{opened.error()};
    if (auto opened = decoder->openDecoder(); !opened) return Error{opened.error()};
    auto first = decoder->decode();
    if (!first) return Error{first.error()};
    if (!*first) return errorAt(path, "has no video frame that can be decoded");
    if (auto planned = decoder->planOutput(*(*first)->frame, options); !planned)
        return Error{planned.error()};
    decoder->m_firstStart = (*first)->start;
    decoder->m_ready.push_back(std::move(**first));
    return decoder;
}

Result<void> MovieDecoder::openInput(const MovieSourceOptions& options) {
    // A file may have a % in its name and still be one movie.
    std::error_code error;
    const bool sequence = isSequencePattern(m_path) && !std::filesystem::exists(m_path, error);
    const AVInputFormat* demuxer = sequence ? av_find_input_format("image2") : nullptr;
    AVOptions demuxerOptions;
    if (sequence) {
        demuxerOptions.set("pattern_type", "sequence");
        if (options.sequenceRate > 0) {
            char rate[32];
            std::snprintf(rate, sizeof rate, "%.17g", options.sequenceRate);
            demuxerOptions.set("framerate", rate);
        }
    }
    AVFormatContext* raw = nullptr;
    if (int rc = avformat_open_input(&raw, fileUrl(m_path).c_str(), demuxer, demuxerOptions.get());
        rc < 0) {
        if (sequence && rc == AVERROR(ENOENT)) return failure("no file matches the pattern");
        return failure(avErrorText(rc));
    }
    m_format.reset(raw);
    if (!sequence && isSinglePicture(m_format->iformat)) return failure("is not a movie");
    if (int rc = avformat_find_stream_info(raw, nullptr); rc < 0) return failure(avErrorText(rc));
    return {};
}

Result<void> MovieDecoder::openDecoder() {
    m_stream = av_find_best_stream(m_format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (m_stream < 0) return failure("has no video stream");
    const AVStream* stream = m_format->streams[m_stream];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) return failure("its video cannot be decoded by this FFmpeg");
    m_decoder.reset(avcodec_alloc_context3(codec));
    if (!m_decoder) return failure("no memory for a decoder");
    if (int rc = avcodec_parameters_to_context(m_decoder.get(), stream->codecpar); rc < 0)
        return failure(avErrorText(rc));
    // As many threads as FFmpeg finds useful, frames in parallel where the codec allows.
    m_decoder->thread_count = 0;
    m_decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (int rc = avcodec_open2(m_decoder.get(), codec, nullptr); rc < 0)
        return failure("its video cannot be decoded: " + avErrorText(rc));
    m_timeBase = av_q2d(stream->time_base);
    if (const double rate = av_q2d(stream->avg_frame_rate); rate > 0) {
        const double ticksPerFrame = 1 / (rate * m_timeBase);
        // Never more than a tenth of a frame, so no sample moves to a neighbour.
        if (std::abs(ticksPerFrame - std::round(ticksPerFrame)) > 1e-3)
            m_timeRounding = std::min(m_timeBase / 2, 0.1 / rate);
    }
    m_firstPts = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        m_length = double(stream->duration) * m_timeBase;
    } else if (m_format->duration > 0) {
        m_length = double(m_format->duration) / AV_TIME_BASE;
    }
    m_packet.reset(av_packet_alloc());
    if (!m_packet) return failure("no memory for a packet");
    return {};
}

// Frames larger than the GPU takes are scaled here once rather than at every
// upload; deep sources keep their precision where asked.
Result<void> MovieDecoder::planOutput(const AVFrame& first, const MovieSourceOptions& options) {
    if (4LL * first.width * first.height > kMaxFrameBytes)
        return failure("frames would decode to more than 1 GiB");
    const double scale =
        std::min(1.0, double(options.maxSide) / double(std::max(first.width, first.height)));
    m_outWidth = scaledSide(first.width, scale);
    m_outHeight = scaledSide(first.height, scale);
    if (scale < 1) {
        nsLog("\"%s\": frames of %d x %d scaled down to %d x %d, the GPU's largest texture",
              m_path.c_str(), first.width, first.height, m_outWidth, m_outHeight);
    }
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(AVPixelFormat(first.format));
    if (!format) return failure("frames in an unknown pixel format");
    m_float = options.keepDepth && format->comp[0].depth > 8;
    // A format the converter cannot take is told now, not at some later frame.
    MovieFrame probe;
    return convert(first, probe);
}

Result<std::optional<MovieDecoder::Decoded>> MovieDecoder::decode() {
    for (;;) {
        AVFrameUPtr frame(av_frame_alloc());
        if (!frame) return failure("no memory for a frame");
        int rc = avcodec_receive_frame(m_decoder.get(), frame.get());
        if (rc == 0) {
            int64_t pts = frame->best_effort_timestamp;
            if (pts == AV_NOPTS_VALUE) pts = frame->pts;
            if (pts == AV_NOPTS_VALUE) return failure("has a frame without a time");
            const double start = double(pts - m_firstPts) * m_timeBase;
            return std::optional<Decoded>(Decoded{start, std::move(frame)});
        }
        if (rc == AVERROR_EOF) return std::optional<Decoded>();
        if (rc != AVERROR(EAGAIN))
            return failure("its video cannot be decoded: " + avErrorText(rc));
        rc = av_read_frame(m_format.get(), m_packet.get());
        if (rc == AVERROR_EOF) {
            avcodec_send_packet(m_decoder.get(), nullptr);
            continue;
        }
        if (rc < 0) return failure("cannot be read: " + avErrorText(rc));
        if (m_packet->stream_index == m_stream)
            rc = avcodec_send_packet(m_decoder.get(), m_packet.get());
        av_packet_unref(m_packet.get());
        if (rc < 0 && rc != AVERROR(EAGAIN))
            return failure("its video cannot be decoded: " + avErrorText(rc));
    }
}

Result<std::optional<MovieDecoder::Decoded>> MovieDecoder::next() {
    if (m_ready.empty()) return decode();
    Decoded ready = std::move(m_ready.front());
    m_ready.pop_front();
    return std::optional<Decoded>(std::move(ready));
}

Result<void> MovieDecoder::seekAt(int64_t target) {
    if (int rc = avformat_seek_file(m_format.get(), m_stream, INT64_MIN, target, target, 0); rc < 0)
        return failure("cannot seek: " + avErrorText(rc));
    avcodec_flush_buffers(m_decoder.get());
    return {};
}

Result<void> MovieDecoder::seek(double seconds) {
    m_ready.clear();
    const int64_t target = m_firstPts + int64_t(std::max(0.0, seconds) / m_timeBase);
    if (auto sought = seekAt(target); !sought) return sought;
    auto shown = decode();
    if (!shown) return Error{shown.error()};
    // A container whose index lands after the time: from the start, then.
    if (*shown && (*shown)->start > seconds && (*shown)->start > m_firstStart) {
        if (auto sought = seekAt(m_firstPts); !sought) return sought;
        shown = decode();
        if (!shown) return Error{shown.error()};
    }
    if (!*shown) return failure("has no frame at " + std::to_string(seconds) + " s");
    // Frames between the key frame and the time are decoded, never converted.
    for (;;) {
        auto after = decode();
        if (!after) return Error{after.error()};
        if (!*after || (*after)->start > seconds) {
            m_ready.push_back(std::move(**shown));
            if (*after) m_ready.push_back(std::move(**after));
            return {};
        }
        shown = std::move(after);
    }
}

Result<void> MovieDecoder::convert(const AVFrame& frame, MovieFrame& out) {
    const auto format = AVPixelFormat(frame.format);
    const AVPixelFormat target = m_float ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_RGBA;
    // Exact rounding takes swscale off its SIMD paths, at 20 times the cost
    // for 8-bit output, where it changes a channel by 1/255 at most.
    const int flags = SWS_BICUBIC | SWS_FULL_CHR_H_INT | (m_float ? SWS_ACCURATE_RND : 0);
    m_scaler.reset(sws_getCachedContext(m_scaler.release(), frame.width, frame.height, format,
                                        m_outWidth, m_outHeight, target, flags, nullptr, nullptr,
                                        nullptr));
    if (!m_scaler) return failure("frames in an unsupported pixel format");
    if (!(av_pix_fmt_desc_get(format)->flags & AV_PIX_FMT_FLAG_RGB)) {
        sws_setColorspaceDetails(m_scaler.get(), sws_getCoefficients(colourMatrix(frame)),
                                 isFullRange(frame), sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                                 1 << 16, 1 << 16);
    }
    out.width = m_outWidth;
    out.height = m_outHeight;
    const int channelBytes = m_float ? 2 : 1;
    const int stride = m_outWidth * 4 * channelBytes;
    std::vector<uint8_t> converted(size_t(stride) * m_outHeight);
    // Written from the last row up, as textures are stored.
    uint8_t* bottomUp[4] = {converted.data() + size_t(stride) * (m_outHeight - 1)};
    const int strides[4] = {-stride};
    sws_scale(m_scaler.get(), frame.data, frame.linesize, 0, frame.height, bottomUp, strides);
    if (!m_float) {
        out.rgba = std::move(converted);
        out.rgbaFloat.clear();
        return {};
    }
    out.rgba.clear();
    out.rgbaFloat.resize(converted.size() / 2);
    for (size_t i = 0; i < out.rgbaFloat.size(); ++i) {
        uint16_t value;
        std::memcpy(&value, converted.data() + 2 * i, 2);
        out.rgbaFloat[i] = float(value) / 65535.0f;
    }
    return {};
}

}  // namespace lumivane
