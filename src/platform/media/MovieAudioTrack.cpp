#include "platform/media/MovieAudioTrack.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace lumivane {
namespace {

void freeConverter(SwrContext* context) {
    swr_free(&context);
}

AVSampleFormat encoderSampleFormat(AVCodecID codec) {
    switch (codec) {
        case AV_CODEC_ID_PCM_S16LE:
        case AV_CODEC_ID_PCM_S16BE:
            return AV_SAMPLE_FMT_S16;
        case AV_CODEC_ID_PCM_S24LE:
        case AV_CODEC_ID_PCM_S24BE:
        case AV_CODEC_ID_PCM_S32LE:
            return AV_SAMPLE_FMT_S32;
        case AV_CODEC_ID_PCM_F32LE:
        case AV_CODEC_ID_PCM_F32BE:
            return AV_SAMPLE_FMT_FLT;
        default:
            return AV_SAMPLE_FMT_FLTP;  // FFmpeg's AAC encoder
    }
}

}  // namespace

MovieAudioTrack::~MovieAudioTrack() = default;

Error MovieAudioTrack::failure(const std::string& what) const {
    return errorAt(m_path, "soundtrack: " + what);
}

std::optional<std::string> MovieAudioTrack::containerProblem(const char* muxer, AVCodecID codec) {
    const AVOutputFormat* format = av_guess_format(muxer, nullptr, nullptr);
    if (format && avformat_query_codec(format, codec, FF_COMPLIANCE_NORMAL) == 1)
        return std::nullopt;
    return std::string("a ") + muxer + " movie cannot hold " + avcodec_get_name(codec) + " audio";
}

Result<std::unique_ptr<MovieAudioTrack>> MovieAudioTrack::create(AVFormatContext& muxer,
                                                                 const AudioFormat& format,
                                                                 const std::string& path) {
    std::unique_ptr<MovieAudioTrack> track(new MovieAudioTrack());
    track->m_path = path;
    track->m_muxer = &muxer;
    if (auto opened = track->openEncoder(format); !opened) return Error{opened.error()};
    track->m_stream = avformat_new_stream(&muxer, nullptr);
    if (!track->m_stream) return track->failure("out of memory");
    if (int rc = avcodec_parameters_from_context(track->m_stream->codecpar, track->m_encoder.get());
        rc < 0)
        return track->failure(avErrorText(rc));
    track->m_stream->time_base = AVRational{1, format.rate};
    return track;
}

Result<void> MovieAudioTrack::openEncoder(const AudioFormat& format) {
    const AVCodec* codec = avcodec_find_encoder(format.codec);
    if (!codec) return failure(std::string("no ") + avcodec_get_name(format.codec) + " encoder");
    m_encoder.reset(avcodec_alloc_context3(codec));
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_encoder || !m_frame || !m_packet) return failure("out of memory");
    AVCodecContext& context = *m_encoder;
    m_channels = format.channels;
    av_channel_layout_default(&context.ch_layout, format.channels);
    context.sample_rate = format.rate;
    context.sample_fmt = encoderSampleFormat(format.codec);
    context.time_base = AVRational{1, format.rate};
    context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (format.codec == AV_CODEC_ID_AAC)
        context.bit_rate = format.bitRate > 0
                               ? format.bitRate
                               : std::min<int64_t>(128000LL * format.channels, 512000);
    if (int rc = avcodec_open2(&context, codec, nullptr); rc < 0)
        return failure("cannot open the " + std::string(codec->name) + " encoder for " +
                       std::to_string(format.channels) + " channels at " +
                       std::to_string(format.rate) + " Hz (" + avErrorText(rc) + ")");
    m_frameSize = (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) ? 0 : context.frame_size;
    SwrContext* raw = nullptr;
    int rc = swr_alloc_set_opts2(&raw, &context.ch_layout, context.sample_fmt, format.rate,
                                 &context.ch_layout, AV_SAMPLE_FMT_FLT, format.rate, 0, nullptr);
    m_converter = {raw, freeConverter};
    if (rc < 0 || (rc = swr_init(raw)) < 0)
        return failure("cannot convert samples (" + avErrorText(rc) + ")");
    return {};
}

Result<void> MovieAudioTrack::write(const float* samples, int64_t count) {
    if (m_finished) return failure("the track is finished");
    m_taken += count;
    if (m_frameSize == 0) {
        // One packet per call, at most a second each.
        for (int64_t done = 0; done < count;) {
            const int part = int(std::min<int64_t>(count - done, m_encoder->sample_rate));
            if (auto sent = encode(samples + done * m_channels, part); !sent) return sent;
            done += part;
        }
        return {};
    }
    m_pending.insert(m_pending.end(), samples, samples + count * m_channels);
    const size_t whole = size_t(m_frameSize) * m_channels;
    size_t used = 0;
    for (; m_pending.size() - used >= whole; used += whole) {
        if (auto sent = encode(m_pending.data() + used, m_frameSize); !sent) return sent;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + long(used));
    return {};
}

Result<void> MovieAudioTrack::encode(const float* samples, int count) {
    AVFrame& frame = *m_frame;
    av_frame_unref(&frame);
    frame.nb_samples = count;
    frame.format = m_encoder->sample_fmt;
    frame.sample_rate = m_encoder->sample_rate;
    if (int rc = av_channel_layout_copy(&frame.ch_layout, &m_encoder->ch_layout); rc < 0)
        return failure(avErrorText(rc));
    if (int rc = av_frame_get_buffer(&frame, 0); rc < 0) return failure(avErrorText(rc));
    const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(samples)};
    if (int rc = swr_convert(m_converter.get(), frame.data, count, in, count); rc != count)
        return failure("cannot convert samples (" + avErrorText(rc) + ")");
    frame.pts = m_sent;
    m_sent += count;
    return send(&frame);
}

Result<void> MovieAudioTrack::send(const AVFrame* frame) {
    if (int rc = avcodec_send_frame(m_encoder.get(), frame); rc < 0)
        return failure("encoding failed (" + avErrorText(rc) + ")");
    for (;;) {
        const int rc = avcodec_receive_packet(m_encoder.get(), m_packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return {};
        if (rc < 0) return failure("encoding failed (" + avErrorText(rc) + ")");
        // The last frame is padded to a whole one; its duration ends the
        // track on the last sample given, which the edit list keeps.
        if (m_packet->pts != AV_NOPTS_VALUE && m_packet->pts + m_packet->duration > m_sent)
            m_packet->duration = std::max<int64_t>(0, m_sent - m_packet->pts);
        av_packet_rescale_ts(m_packet.get(), m_encoder->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        if (int written = av_interleaved_write_frame(m_muxer, m_packet.get()); written < 0)
            return failure("cannot write (" + avErrorText(written) + ")");
    }
}

Result<void> MovieAudioTrack::finish() {
    if (m_finished) return {};
    m_finished = true;
    if (!m_pending.empty()) {
        if (auto sent = encode(m_pending.data(), int(m_pending.size() / m_channels)); !sent)
            return sent;
        m_pending.clear();
    }
    return send(nullptr);
}

}  // namespace lumivane
