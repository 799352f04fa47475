#include "platform/media/MovieSoundtrack.h"

#include <algorithm>
#include <cmath>

#include "platform/media/MovieAudioTrack.h"
#include "platform/media/SoundtrackReader.h"

namespace lumivane {
namespace {

// The source's depth where it says one: 16 bits and less stay 16-bit PCM,
// deeper or float sources get 24 bits.
AVCodecID pcmFor(const std::string& path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, fileUrl(path).c_str(), nullptr, nullptr) < 0)
        return AV_CODEC_ID_PCM_S24LE;
    AVInputFormatContextUPtr format(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) return AV_CODEC_ID_PCM_S24LE;
    const int index = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) return AV_CODEC_ID_PCM_S24LE;
    const AVCodecParameters& source = *raw->streams[index]->codecpar;
    int bits = source.bits_per_raw_sample;
    if (bits <= 0) {
        const auto* descriptor = avcodec_descriptor_get(source.codec_id);
        const bool lossless = descriptor && (descriptor->props & AV_CODEC_PROP_LOSSLESS);
        bits = lossless ? av_get_bytes_per_sample(AVSampleFormat(source.format)) * 8 : 16;
        if (source.format == AV_SAMPLE_FMT_FLT || source.format == AV_SAMPLE_FMT_FLTP) bits = 24;
    }
    return bits > 0 && bits <= 16 ? AV_CODEC_ID_PCM_S16LE : AV_CODEC_ID_PCM_S24LE;
}

bool keepsFramesWhole(AVCodecID video) {
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(video);
    if (!descriptor) return false;
    // H.264 and the like are marked lossless too: they can be.
    const bool onlyLossless =
        (descriptor->props & AV_CODEC_PROP_LOSSLESS) && !(descriptor->props & AV_CODEC_PROP_LOSSY);
    return onlyLossless || (descriptor->props & AV_CODEC_PROP_INTRA_ONLY);
}

}  // namespace

MovieSoundtrack::~MovieSoundtrack() = default;

Result<std::unique_ptr<MovieSoundtrack>> MovieSoundtrack::open(const SoundtrackRequest& request,
                                                               AVCodecID videoCodec) {
    auto reader = SoundtrackReader::open(request.path);
    if (!reader) return Error{reader.error()};
    std::unique_ptr<MovieSoundtrack> soundtrack(new MovieSoundtrack());
    soundtrack->m_reader = std::move(reader.value());
    soundtrack->m_request = request;
    const bool pcm = request.pcm || (!request.aac && keepsFramesWhole(videoCodec));
    soundtrack->m_codec = pcm ? pcmFor(request.path) : AV_CODEC_ID_AAC;
    soundtrack->m_sourceOrigin =
        std::llround(request.startTime * soundtrack->m_reader->sampleRate());
    return soundtrack;
}

std::optional<std::string> MovieSoundtrack::containerProblem(const char* muxer) const {
    return MovieAudioTrack::containerProblem(muxer, m_codec);
}

Result<void> MovieSoundtrack::addTrack(AVFormatContext& muxer, const std::string& moviePath,
                                       int timescale, int frameTicks) {
    m_timescale = timescale;
    m_frameTicks = frameTicks;
    const AudioFormat format{m_codec, m_reader->sampleRate(), m_reader->channels(), 0};
    auto track = MovieAudioTrack::create(muxer, format, moviePath);
    if (!track) return Error{track.error()};
    m_track = std::move(track.value());
    return {};
}

int64_t MovieSoundtrack::samplesBefore(int64_t renderFrame) const {
    return av_rescale_rnd(renderFrame, int64_t(m_frameTicks) * m_reader->sampleRate(), m_timescale,
                          AV_ROUND_NEAR_INF);
}

Result<void> MovieSoundtrack::writeThrough(int64_t frames) {
    const int64_t first = samplesBefore(m_request.firstFrame);
    const int64_t end = samplesBefore(m_request.firstFrame + frames);
    const int64_t count = end - first - m_track->samplesTaken();
    if (count <= 0) return {};
    const int64_t from = m_sourceOrigin + first + m_track->samplesTaken();
    if (auto read = m_reader->read(from, count, m_samples); !read) return read;
    return m_track->write(m_samples.data(), count);
}

Result<void> MovieSoundtrack::finish(int64_t frames) {
    if (auto written = writeThrough(frames); !written) return written;
    return m_track->finish();
}

}  // namespace lumivane
