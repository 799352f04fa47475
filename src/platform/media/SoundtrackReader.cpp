#include "platform/media/SoundtrackReader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "platform/media/FFmpegHandles.h"
#include "platform/media/MediaLog.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace lumivane {
namespace {

struct SwrContextDeleter {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
using SwrContextUPtr = std::unique_ptr<SwrContext, SwrContextDeleter>;

// Decoded history kept behind the last read, so that reads which step back a
// little (a window ending at each frame, motion-blur samples) need no seek.
constexpr double kKeepSeconds = 1;
// A jump further ahead than this seeks rather than decoding everything between.
constexpr double kSeekAheadSeconds = 10;
// Decoded before a seek's target and thrown away, so the samples kept are
// those a decode from the start gives (MDCT overlap, mp3's bit reservoir).
constexpr double kPrerollSeconds = 0.5;
// Timestamps this close to where the last frame ended continue it exactly;
// containers round them to their own clock.
constexpr double kContinuitySeconds = 0.005;

bool isRegularFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

}  // namespace

struct SoundtrackReader::Internals {
    AVInputFormatContextUPtr format;
    AVCodecContextUPtr decoder;
    AVPacketUPtr packet;
    AVFrameUPtr frame;
    SwrContextUPtr resampler;
    int resamplerFormat = -1;
    int stream = -1;
    AVRational timeBase{0, 1};
    // Whether the next decoded frame starts a new run (after opening or a
    // seek): it is placed by its timestamp, later ones follow it.
    bool anchored = false;
    // After reopening, the first frame is position 0 whatever its time says.
    bool atStart = true;
    std::vector<float> converted;
};

SoundtrackReader::SoundtrackReader() : m_av(std::make_unique<Internals>()) {}
SoundtrackReader::~SoundtrackReader() = default;

Error SoundtrackReader::failureAt(int64_t position, const std::string& what) const {
    char time[32];
    std::snprintf(time, sizeof time, "%.3f s", double(position) / std::max(m_rate, 1));
    return errorAt(m_path, "its audio fails at " + std::string(time) + ": " + what);
}

Result<std::unique_ptr<SoundtrackReader>> SoundtrackReader::open(const std::string& path) {
    installMediaLog();
    if (!std::filesystem::exists(path)) return errorAt(path, "does not exist");
    if (!isRegularFile(path)) return errorAt(path, "is not a file");
    std::unique_ptr<SoundtrackReader> reader(new SoundtrackReader());
    reader->m_path = path;
    if (auto opened = reader->openDecoder(); !opened) return Error{opened.error()};
    // The first frame proves the stream decodes and fixes where position 0 is.
    auto decoded = reader->decodeMore();
    if (!decoded) return errorAt(path, "its audio cannot be decoded: " + decoded.error());
    if (!*decoded) return errorAt(path, "its audio stream holds no samples");
    // Without timestamps a seek could not tell where it landed.
    if (!reader->m_originStamped) reader->m_exactSeeks = false;
    return reader;
}

Result<void> SoundtrackReader::openDecoder() {
    Internals& av = *m_av;
    av = Internals{};
    AVFormatContext* raw = nullptr;
    if (int rc = avformat_open_input(&raw, fileUrl(m_path).c_str(), nullptr, nullptr); rc < 0)
        return errorAt(m_path, "is not media FFmpeg reads (" + avErrorText(rc) + ")");
    av.format.reset(raw);
    if (int rc = avformat_find_stream_info(raw, nullptr); rc < 0)
        return errorAt(m_path, "cannot be read: " + avErrorText(rc));
    av.stream = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (av.stream < 0) return errorAt(m_path, "has no audio stream");
    const AVStream* stream = raw->streams[av.stream];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) return errorAt(m_path, "its audio cannot be decoded by this FFmpeg");
    av.decoder.reset(avcodec_alloc_context3(codec));
    av.packet.reset(av_packet_alloc());
    av.frame.reset(av_frame_alloc());
    if (!av.decoder || !av.packet || !av.frame) return errorAt(m_path, "no memory for a decoder");
    if (int rc = avcodec_parameters_to_context(av.decoder.get(), stream->codecpar); rc < 0)
        return errorAt(m_path, "its audio cannot be decoded: " + avErrorText(rc));
    if (int rc = avcodec_open2(av.decoder.get(), codec, nullptr); rc < 0)
        return errorAt(m_path, "its audio cannot be decoded: " + avErrorText(rc));
    if (av.decoder->sample_rate <= 0 || av.decoder->ch_layout.nb_channels <= 0)
        return errorAt(m_path, "its audio stream has no sample rate or channels");
    av.timeBase = stream->time_base;
    m_rate = av.decoder->sample_rate;
    m_channels = av.decoder->ch_layout.nb_channels;
    // A seek gives the very samples a decode from the start gives only where
    // each packet decodes alone (PCM, FLAC; AAC's noise substitution and
    // MDCT overlap carry state) and the demuxer places the packets it lands
    // on exactly (not one that builds its index as it reads; PCM seeks by
    // byte offset in any).
    const int flags = raw->iformat->flags;
    const AVCodecID id = stream->codecpar->codec_id;
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(id);
    const bool pcm = id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT;
    // FFmpeg marks most audio codecs intra-only; the lossy ones still differ
    // in their last bits after a seek.
    const int alone = AV_CODEC_PROP_INTRA_ONLY | AV_CODEC_PROP_LOSSLESS;
    const bool intraOnly = descriptor && (descriptor->props & alone) == alone;
    const bool placed =
        pcm || !(flags & (AVFMT_GENERIC_INDEX | AVFMT_NOTIMESTAMPS | AVFMT_NOBINSEARCH));
    m_exactSeeks = intraOnly && placed;
    m_buffer.clear();
    m_bufferStart = 0;
    m_ended = false;
    m_framesDecoded = 0;
    return {};
}

Result<bool> SoundtrackReader::decodeMore() {
    Internals& av = *m_av;
    // A file cut short (a recording that stopped) ends in half a packet,
    // which the decoder refuses: the sound ends there, as in a player.
    const auto cutShort = [&] {
        AVIOContext* file = av.format->pb;
        return file && (avio_feof(file) || avio_tell(file) >= avio_size(file));
    };
    for (;;) {
        int rc = avcodec_receive_frame(av.decoder.get(), av.frame.get());
        if (rc == 0) {
            auto appended = appendFrame();
            av_frame_unref(av.frame.get());
            if (!appended) return Error{appended.error()};
            return true;
        }
        if (rc == AVERROR_EOF) return false;
        if (rc != AVERROR(EAGAIN)) {
            if (cutShort()) return false;
            return Error{avErrorText(rc)};
        }
        rc = av_read_frame(av.format.get(), av.packet.get());
        if (rc == AVERROR_EOF) {
            avcodec_send_packet(av.decoder.get(), nullptr);
            continue;
        }
        if (rc < 0) return Error{"cannot be read: " + avErrorText(rc)};
        if (av.packet->stream_index == av.stream)
            rc = avcodec_send_packet(av.decoder.get(), av.packet.get());
        av_packet_unref(av.packet.get());
        if (rc < 0 && rc != AVERROR(EAGAIN)) {
            if (!cutShort()) return Error{avErrorText(rc)};
            avcodec_send_packet(av.decoder.get(), nullptr);
        }
    }
}

Result<void> SoundtrackReader::appendFrame() {
    Internals& av = *m_av;
    const AVFrame& frame = *av.frame;
    if (frame.ch_layout.nb_channels != m_channels)
        return Error{"the channel count changes from " + std::to_string(m_channels) + " to " +
                     std::to_string(frame.ch_layout.nb_channels)};
    if (frame.sample_rate != m_rate)
        return Error{"the sample rate changes from " + std::to_string(m_rate) + " to " +
                     std::to_string(frame.sample_rate)};
    if (!av.resampler || av.resamplerFormat != frame.format) {
        AVChannelLayout layout{};
        if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&layout, m_channels);
        else
            av_channel_layout_copy(&layout, &frame.ch_layout);
        SwrContext* raw = nullptr;
        int rc = swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_FLT, m_rate, &layout,
                                     AVSampleFormat(frame.format), m_rate, 0, nullptr);
        av_channel_layout_uninit(&layout);
        av.resampler.reset(raw);
        if (rc < 0 || (rc = swr_init(raw)) < 0)
            return Error{"its samples cannot be converted: " + avErrorText(rc)};
        av.resamplerFormat = frame.format;
    }
    const int count = frame.nb_samples;
    av.converted.resize(size_t(count) * m_channels);
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(av.converted.data())};
    const int got = swr_convert(av.resampler.get(), out, count,
                                const_cast<const uint8_t**>(frame.extended_data), count);
    if (got < 0) return Error{"its samples cannot be converted: " + avErrorText(got)};

    // Where the frame starts: by its timestamp when it opens a run, after the
    // last one otherwise, unless its timestamp shows a gap or an overlap.
    const int64_t end = m_bufferStart + int64_t(m_buffer.size() / m_channels);
    int64_t pts =
        frame.best_effort_timestamp != AV_NOPTS_VALUE ? frame.best_effort_timestamp : frame.pts;
    if (!m_originKnown) {
        m_originPts = pts != AV_NOPTS_VALUE ? pts : 0;
        m_originStamped = pts != AV_NOPTS_VALUE;
        m_originKnown = true;
    }
    int64_t start = end;
    if (av.atStart) {
        start = 0;
    } else if (pts != AV_NOPTS_VALUE && av.anchored && m_framesDecoded == 1) {
        // A decoder that trimmed the first frame's priming may leave its time
        // as it was; the second frame's time says where the stream runs.
        m_originPts = pts - av_rescale_q(end, AVRational{1, m_rate}, av.timeBase);
    } else if (pts != AV_NOPTS_VALUE) {
        const int64_t stamped = av_rescale_q(pts - m_originPts, av.timeBase, AVRational{1, m_rate});
        if (!av.anchored || std::llabs(stamped - end) > int64_t(kContinuitySeconds * m_rate))
            start = stamped;
    }
    ++m_framesDecoded;
    const bool newRun = !av.anchored || av.atStart;
    av.anchored = true;
    av.atStart = false;
    if (newRun) {
        m_buffer.clear();
        m_bufferStart = start;
    } else if (start > end) {
        m_buffer.resize(m_buffer.size() + size_t(start - end) * m_channels, 0.f);
    }
    // An overlap keeps what was decoded first.
    const int64_t skip = std::clamp<int64_t>(end - start, 0, got);
    if (newRun || skip == 0)
        m_buffer.insert(m_buffer.end(), av.converted.begin(),
                        av.converted.begin() + size_t(got) * m_channels);
    else
        m_buffer.insert(m_buffer.end(), av.converted.begin() + size_t(skip) * m_channels,
                        av.converted.begin() + size_t(got) * m_channels);
    return {};
}

void SoundtrackReader::dropBefore(int64_t position) {
    const int64_t drop =
        std::clamp<int64_t>(position - m_bufferStart, 0, int64_t(m_buffer.size() / m_channels));
    if (drop <= 0) return;
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + size_t(drop) * m_channels);
    m_bufferStart += drop;
}

Result<void> SoundtrackReader::seekTo(int64_t position) {
    Internals& av = *m_av;
    const int64_t preroll =
        int64_t(kPrerollSeconds * m_rate) + std::max(0, int(av.decoder->seek_preroll));
    const int64_t target = position - preroll;
    if (m_exactSeeks && target > 0) {
        const int64_t ts = m_originPts + av_rescale_q(target, AVRational{1, m_rate}, av.timeBase);
        int rc = avformat_seek_file(av.format.get(), av.stream, INT64_MIN, ts, ts, 0);
        if (rc >= 0) {
            avcodec_flush_buffers(av.decoder.get());
            av.anchored = false;
            m_buffer.clear();
            m_ended = false;
            auto decoded = decodeMore();
            if (!decoded) return failureAt(position, decoded.error());
            m_ended = !*decoded;
            // A container whose index lands after the target: from the start, then.
            if (m_ended || m_bufferStart <= position) return {};
        }
    }
    const bool originKnown = m_originKnown;
    const int64_t originPts = m_originPts;
    if (auto reopened = openDecoder(); !reopened) return failureAt(position, reopened.error());
    m_originKnown = originKnown;
    m_originPts = originPts;
    return {};
}

Result<void> SoundtrackReader::read(int64_t first, int64_t count, std::vector<float>& samples) {
    samples.assign(size_t(std::max<int64_t>(count, 0)) * m_channels, 0.f);
    if (count <= 0) return {};
    const int64_t keep = int64_t(kKeepSeconds * m_rate);
    int64_t end = m_bufferStart + int64_t(m_buffer.size() / m_channels);
    const int64_t wanted = std::max<int64_t>(first, 0);
    const bool behind = wanted < m_bufferStart && m_bufferStart > 0;
    const bool farAhead = m_exactSeeks && wanted > end + int64_t(kSeekAheadSeconds * m_rate);
    if ((behind || farAhead) && first + count > 0) {
        if (auto sought = seekTo(wanted); !sought) return sought;
    }
    for (;;) {
        end = m_bufferStart + int64_t(m_buffer.size() / m_channels);
        if (m_ended || end >= first + count) break;
        // Nothing wanted yet lies this far back: free it as we go.
        dropBefore(std::min(first, end) - keep);
        auto decoded = decodeMore();
        if (!decoded) return failureAt(end, decoded.error());
        m_ended = !*decoded;
    }
    const int64_t from = std::max(first, m_bufferStart);
    const int64_t to = std::min(first + count, end);
    if (to > from)
        std::copy(m_buffer.begin() + size_t(from - m_bufferStart) * m_channels,
                  m_buffer.begin() + size_t(to - m_bufferStart) * m_channels,
                  samples.begin() + size_t(from - first) * m_channels);
    dropBefore(first - keep);
    return {};
}

}  // namespace lumivane
