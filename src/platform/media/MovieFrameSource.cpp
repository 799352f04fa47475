#include "platform/media/MovieFrameSource.h"

#include <cstring>
#include <filesystem>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace lumivane {
namespace {

// As for still pictures: a frame decodes to at most 1 GiB of RGBA.
constexpr long long kMaxFrameBytes = 1LL << 30;
// A jump further ahead than this seeks rather than decoding every frame between.
constexpr double kSeekAheadSeconds = 10;
constexpr double kTimeTolerance = 1e-6;

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

}  // namespace

Error MovieFrameSource::failure(const std::string& what) const {
    return errorAt(m_path, what);
}

bool MovieFrameSource::looksLikeMovie(const std::string& path) {
    std::error_code error;
    // A FIFO would hold the probe until a writer comes.
    if (!std::filesystem::is_regular_file(path, error)) return false;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, fileUrl(path).c_str(), nullptr, nullptr) < 0) return false;
    AVInputFormatContextUPtr format(raw);
    return !isSinglePicture(format->iformat);
}

Result<std::unique_ptr<MovieFrameSource>> MovieFrameSource::open(const std::string& path) {
    std::unique_ptr<MovieFrameSource> source(new MovieFrameSource());
    source->m_path = path;
    AVFormatContext* raw = nullptr;
    if (int rc = avformat_open_input(&raw, fileUrl(path).c_str(), nullptr, nullptr); rc < 0)
        return errorAt(path, avErrorText(rc));
    source->m_format.reset(raw);
    if (isSinglePicture(source->m_format->iformat)) return errorAt(path, "is not a movie");
    if (int rc = avformat_find_stream_info(raw, nullptr); rc < 0)
        return errorAt(path, avErrorText(rc));
    if (auto opened = source->openDecoder(); !opened) return Error{opened.error()};
    auto first = source->decodeNext();
    if (!first) return Error{first.error()};
    if (!first->frame) return errorAt(path, "has no video frame that can be decoded");
    const long long bytes = 4LL * first->frame->width * first->frame->height;
    if (bytes > kMaxFrameBytes) return errorAt(path, "frames would decode to more than 1 GiB");
    source->m_firstStart = first->start;
    source->m_current = std::move(*first);
    auto next = source->decodeNext();
    if (!next) return Error{next.error()};
    source->m_next = std::move(*next);
    return source;
}

Result<void> MovieFrameSource::openDecoder() {
    m_stream = av_find_best_stream(m_format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (m_stream < 0) return failure("has no video stream");
    const AVStream* stream = m_format->streams[m_stream];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) return failure("its video cannot be decoded by this FFmpeg");
    m_decoder.reset(avcodec_alloc_context3(codec));
    if (!m_decoder) return failure("no memory for a decoder");
    if (int rc = avcodec_parameters_to_context(m_decoder.get(), stream->codecpar); rc < 0)
        return failure(avErrorText(rc));
    m_decoder->thread_count = 0;  // as many as FFmpeg finds useful
    if (int rc = avcodec_open2(m_decoder.get(), codec, nullptr); rc < 0)
        return failure("its video cannot be decoded: " + avErrorText(rc));
    m_timeBase = av_q2d(stream->time_base);
    m_firstPts = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    m_packet.reset(av_packet_alloc());
    if (!m_packet) return failure("no memory for a packet");
    return {};
}

Result<MovieFrameSource::Decoded> MovieFrameSource::decodeNext() {
    for (;;) {
        AVFrameUPtr frame(av_frame_alloc());
        if (!frame) return failure("no memory for a frame");
        int rc = avcodec_receive_frame(m_decoder.get(), frame.get());
        if (rc == 0) {
            int64_t pts = frame->best_effort_timestamp;
            if (pts == AV_NOPTS_VALUE) pts = frame->pts;
            if (pts == AV_NOPTS_VALUE) return failure("has a frame without a time");
            const double start = double(pts - m_firstPts) * m_timeBase;
            return Decoded{std::move(frame), start};
        }
        if (rc == AVERROR_EOF) return Decoded{};
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

Result<void> MovieFrameSource::seekTo(double seconds) {
    const auto attempt = [&](int64_t target) -> Result<void> {
        if (int rc = avformat_seek_file(m_format.get(), m_stream, INT64_MIN, target, target, 0);
            rc < 0)
            return failure("cannot seek: " + avErrorText(rc));
        avcodec_flush_buffers(m_decoder.get());
        auto current = decodeNext();
        if (!current) return Error{current.error()};
        if (!current->frame) return failure("has no frame at " + std::to_string(seconds) + " s");
        auto next = decodeNext();
        if (!next) return Error{next.error()};
        m_current = std::move(*current);
        m_next = std::move(*next);
        m_converted = false;
        return {};
    };
    const int64_t target = m_firstPts + int64_t(seconds / m_timeBase);
    if (auto sought = attempt(target); !sought) return sought;
    // A container whose index lands after the time: from the start, then.
    if (m_current.start > seconds && m_current.start > m_firstStart) return attempt(m_firstPts);
    return {};
}

Result<const MovieFrame*> MovieFrameSource::frameAt(double seconds, bool& changed) {
    changed = false;
    const bool back = seconds + kTimeTolerance < m_current.start && m_current.start > m_firstStart;
    const bool farAhead = m_next.frame && seconds > m_next.start + kSeekAheadSeconds;
    if (back || farAhead) {
        if (auto sought = seekTo(seconds); !sought) return Error{sought.error()};
    }
    // A frame time computed as i / rate may fall an ulp short of the frame
    // that starts there.
    const double at = seconds + kTimeTolerance;
    while (m_next.frame && m_next.start <= at) {
        m_current = std::move(m_next);
        m_converted = false;
        auto next = decodeNext();
        if (!next) return Error{next.error()};
        m_next = std::move(*next);
    }
    if (!m_converted) {
        if (auto converted = convert(*m_current.frame); !converted) return Error{converted.error()};
        m_converted = changed = true;
    }
    return &m_frame;
}

Result<void> MovieFrameSource::convert(const AVFrame& frame) {
    const auto format = AVPixelFormat(frame.format);
    m_scaler.reset(sws_getCachedContext(m_scaler.release(), frame.width, frame.height, format,
                                        frame.width, frame.height, AV_PIX_FMT_RGBA,
                                        SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                        nullptr, nullptr, nullptr));
    if (!m_scaler) return failure("frames in an unsupported pixel format");
    if (!(av_pix_fmt_desc_get(format)->flags & AV_PIX_FMT_FLAG_RGB)) {
        sws_setColorspaceDetails(m_scaler.get(), sws_getCoefficients(colourMatrix(frame)),
                                 isFullRange(frame), sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                                 1 << 16, 1 << 16);
    }
    m_frame.width = frame.width;
    m_frame.height = frame.height;
    const int stride = frame.width * 4;
    m_frame.rgba.resize(size_t(stride) * frame.height);
    // Written from the last row up, as textures are stored.
    uint8_t* bottomUp[4] = {m_frame.rgba.data() + size_t(stride) * (frame.height - 1)};
    const int strides[4] = {-stride};
    sws_scale(m_scaler.get(), frame.data, frame.linesize, 0, frame.height, bottomUp, strides);
    return {};
}

}  // namespace lumivane
