#include "platform/media/MovieWriter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "platform/media/CodecRegistry.h"
#include "platform/media/MediaLog.h"
#include "platform/media/MovieContainer.h"
#include "platform/media/MovieRewriter.h"

namespace lumivane {
namespace {

constexpr int kFrameDuration = 600;  // in the track's time scale
constexpr int kFragmentMicroseconds = 1000000;

Result<int> timescaleFor(double framerate) {
    const double scale = std::trunc(framerate * kFrameDuration);
    if (!(scale >= 1.0) || scale > INT_MAX) {
        return Error{"frame rate " + std::to_string(framerate) + " is out of range"};
    }
    return static_cast<int>(scale);
}

}  // namespace

MovieWriter::MovieWriter(std::string path, CodecInfo codec, EncoderSettings settings, int timescale,
                         int width, int height, std::optional<MovieChunk> chunk)
    : m_path(std::move(path)),
      m_codec(std::move(codec)),
      m_settings(std::move(settings)),
      m_timescale(timescale),
      m_width(width),
      m_height(height),
      m_chunk(chunk),
      m_container(containerForPath(m_path)),
      m_packet(av_packet_alloc()),
      m_converter(width, height, m_settings) {}

// Without updateMovieFile() the file stays as the fragments left it: playable
// up to the last fragment written.
MovieWriter::~MovieWriter() = default;

namespace {
int g_encoderThreads = 0;
}

void MovieWriter::setEncoderThreads(int threads) {
    g_encoderThreads = std::max(0, threads);
}

std::string MovieWriter::failure(const std::string& what) const {
    return describeAt(m_path, what);
}

namespace {

struct Prepared {
    CodecInfo codec;
    EncoderSettings settings;
    int timescale;
};

// Everything create() refuses before it touches a file.
Result<Prepared> prepare(const std::string& path, const std::string& fourcc, int quality,
                         double framerate, int width, int height,
                         const std::optional<MovieChunk>& chunk) {
    const std::optional<CodecInfo> codec = codecForFourCC(fourcc);
    if (!codec) return Error{"'" + fourcc + "' is not an installed codec"};
    if (auto refusal = containerRefusal(path, fourcc)) return Error{*refusal};
    if (containerForPath(path).animation) return errorAt(path, "is a picture, not a movie");
    if (chunk) {
        if (auto problem = movieChunkProblem(*chunk)) return errorAt(path, *problem);
    }
    if (width <= 0 || height <= 0) {
        return errorAt(path, "movie size " + std::to_string(width) + "x" + std::to_string(height) +
                                 " is not positive");
    }
    auto timescale = timescaleFor(framerate);
    if (!timescale) return errorAt(path, timescale.error());
    auto settings = encoderSettings(*codec, quality, width, height);
    if (!settings) return errorAt(path, settings.error());
    return Prepared{*codec, std::move(settings.value()), *timescale};
}

// The soundtrack opened and its codec checked against the container.
Result<std::unique_ptr<MovieSoundtrack>> prepareSoundtrack(
    const std::string& path, const EncoderSettings& settings,
    const std::optional<SoundtrackRequest>& request) {
    if (!request) return std::unique_ptr<MovieSoundtrack>();
    SoundtrackRequest asked = *request;
    // Only QuickTime and MP4 write AAC's priming as an edit list; elsewhere
    // it would play as a delay, so the sound goes in as PCM.
    if (!containerForPath(path).fragmented) {
        if (asked.aac) return errorAt(path, "AAC soundtracks go in QuickTime or MP4 movies");
        asked.pcm = true;
    }
    const AVCodec* video = avcodec_find_encoder_by_name(settings.encoder.c_str());
    auto soundtrack = MovieSoundtrack::open(asked, video ? video->id : AV_CODEC_ID_NONE);
    if (!soundtrack) return Error{soundtrack.error()};
    if (auto problem = (*soundtrack)->containerProblem(containerForPath(path).muxer))
        return errorAt(path, *problem);
    return soundtrack;
}

}  // namespace

Result<void> MovieWriter::check(const std::string& path, const std::string& fourcc, int quality,
                                double framerate, int width, int height,
                                std::optional<MovieChunk> chunk,
                                std::optional<SoundtrackRequest> soundtrack) {
    auto prepared = prepare(path, fourcc, quality, framerate, width, height, chunk);
    if (!prepared) return Error{prepared.error()};
    if (auto opened = prepareSoundtrack(path, prepared->settings, soundtrack); !opened)
        return Error{opened.error()};
    return {};
}

Result<std::unique_ptr<MovieWriter>> MovieWriter::create(
    const std::string& path, const std::string& fourcc, int quality, double framerate, int width,
    int height, std::optional<MovieChunk> chunk, std::optional<SoundtrackRequest> soundtrack) {
    installMediaLog();
    auto prepared = prepare(path, fourcc, quality, framerate, width, height, chunk);
    if (!prepared) return Error{prepared.error()};
    const auto& [codec, settings, timescale] = prepared.value();
    auto sound = prepareSoundtrack(path, settings, soundtrack);
    if (!sound) return Error{sound.error()};

    std::unique_ptr<MovieWriter> writer(
        new MovieWriter(path, codec, settings, timescale, width, height, chunk));
    writer->m_soundtrack = std::move(sound.value());
    if (!writer->m_packet) return Error{writer->failure("out of memory")};
    if (auto opened = writer->openEncoder(); !opened) return Error{opened.error()};
    // Rewrites killed before their rename left only copies of older movies.
    MovieRewriter::removeStaleTemporaries(path);
    if (auto opened = writer->openMuxer(); !opened) return Error{opened.error()};
    return writer;
}

Result<void> MovieWriter::openEncoder() {
    // SVT-AV1 writes its banner to the console unless its own variable says
    // otherwise; a user's setting stands.
    if (m_settings.encoder == "libsvtav1") ::setenv("SVT_LOG", "1", 0);
    const AVCodec* codec = avcodec_find_encoder_by_name(m_settings.encoder.c_str());
    if (!codec) return Error{failure("encoder '" + m_settings.encoder + "' is not available")};
    m_encoder.reset(avcodec_alloc_context3(codec));
    if (!m_encoder) return Error{failure("out of memory")};
    AVCodecContext& context = *m_encoder;
    context.width = m_width;
    context.height = m_height;
    context.pix_fmt = m_settings.pixelFormat;
    context.sample_aspect_ratio = AVRational{1, 1};
    context.time_base = AVRational{kFrameDuration, m_timescale};
    context.framerate = AVRational{m_timescale, kFrameDuration};
    // The encoder's own keyframe interval: fragments are cut by duration, not
    // at keyframes, so a killed render keeps what it kept before without
    // paying a keyframe every second in size.
    context.thread_count = g_encoderThreads;  // 0: as many as the machine has
    context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (m_settings.qscale > 0) {
        context.flags |= AV_CODEC_FLAG_QSCALE;
        context.global_quality = FF_QP2LAMBDA * m_settings.qscale;
    }
    if (m_settings.compressionLevel >= 0) context.compression_level = m_settings.compressionLevel;
    FrameConverter::tagColour(context, m_settings);

    AVOptions options;
    for (const auto& [key, value] : m_settings.options) options.set(key.c_str(), value);
    if (int rc = avcodec_open2(m_encoder.get(), codec, options.get()); rc < 0) {
        return Error{
            failure("cannot open encoder '" + m_settings.encoder + "' (" + avErrorText(rc) + ")")};
    }
    return {};
}

Result<void> MovieWriter::openMuxer() {
    AVFormatContext* raw = nullptr;
    if (int rc = avformat_alloc_output_context2(&raw, nullptr, m_container.muxer,
                                                fileUrl(m_path).c_str());
        rc < 0) {
        return Error{failure(avErrorText(rc))};
    }
    m_muxer.reset(raw);
    m_stream = avformat_new_stream(m_muxer.get(), nullptr);
    if (!m_stream) return Error{failure("out of memory")};
    if (int rc = avcodec_parameters_from_context(m_stream->codecpar, m_encoder.get()); rc < 0) {
        return Error{failure(avErrorText(rc))};
    }
    // QuickTime has no code for some formats (Ut Video, SpeedHQ); their movies
    // carry the AVI code, and where the encoder named the one for the layout it
    // wrote, the decoder needs that one.
    m_stream->codecpar->codec_tag =
        movieStreamTag(m_muxer->oformat, m_encoder->codec_id, m_encoder->codec_tag, m_codec.fourcc);
    m_stream->time_base = AVRational{1, m_timescale};
    m_stream->avg_frame_rate = AVRational{m_timescale, kFrameDuration};
    if (m_soundtrack) {
        if (auto added = m_soundtrack->addTrack(*m_muxer, m_path, m_timescale, kFrameDuration);
            !added)
            return added;
    }
    if (int rc = avio_open(&m_muxer->pb, fileUrl(m_path).c_str(), AVIO_FLAG_WRITE); rc < 0) {
        return Error{failure("cannot create the file (" + avErrorText(rc) + ")")};
    }
    AVOptions options;
    setMuxerOptions(options);
    if (int rc = avformat_write_header(m_muxer.get(), options.get()); rc < 0) {
        return Error{failure("cannot start the movie (" + avErrorText(rc) + ")")};
    }
    avio_flush(m_muxer->pb);
    return {};
}

void MovieWriter::setMuxerOptions(AVOptions& options) {
    // A chunk of a split render says which; the join needs it.
    if (m_chunk) {
        av_dict_set(&m_muxer->metadata, kMovieChunkKey, movieChunkText(*m_chunk).c_str(), 0);
        if (!m_chunk->origin.empty()) {
            av_dict_set(&m_muxer->metadata, kMovieOriginKey, m_chunk->origin.c_str(), 0);
        }
    }
    if (!m_container.fragmented) {
        // Matroska holds a cluster in memory until it is cut; cut at most every
        // second, as the fragments are, so a killed render keeps all but that.
        options.set("cluster_time_limit", std::to_string(kFragmentMicroseconds / 1000));
        return;
    }
    // A fragment needs no keyframe of its own: the frames run on from the
    // one before, and a reader decodes them in order from the first.
    // Only keys of the movie's own kind ('mdta') take a name of ours.
    options.set("movflags", m_chunk ? "empty_moov+use_metadata_tags" : "empty_moov");
    options.set("frag_duration", std::to_string(kFragmentMicroseconds));
    // Without it the muxer doubles time scales below 10000.
    options.set("video_track_timescale", std::to_string(m_timescale));
}

// Sends one frame (nullptr: end of stream) and writes every packet it yields.
// The muxer emits a fragment when it cuts one; flushing after each packet puts
// it in the file at once.
// x265 can hand back an uninitialised decoding time for a packet of a very
// short stream when it runs several frame threads; the muxer then refuses the
// movie. A frame is never decoded after it is shown, and decoding times rise.
void MovieWriter::repairDecodingTime(AVPacket& packet) {
    // Times count frames here; no codec reorders more than 16 of them.
    constexpr int64_t kMostReordered = 16;
    const bool impossible = packet.dts == AV_NOPTS_VALUE || packet.dts > packet.pts ||
                            packet.dts < packet.pts - kMostReordered ||
                            (m_lastDts != AV_NOPTS_VALUE && packet.dts <= m_lastDts);
    if (packet.pts != AV_NOPTS_VALUE && impossible) {
        packet.dts = m_lastDts == AV_NOPTS_VALUE ? packet.pts : std::min(m_lastDts + 1, packet.pts);
    }
    if (packet.dts != AV_NOPTS_VALUE) m_lastDts = packet.dts;
}

Result<void> MovieWriter::encode(const AVFrame* frame) {
    if (int rc = avcodec_send_frame(m_encoder.get(), frame); rc < 0) {
        return Error{failure("encoding failed (" + avErrorText(rc) + ")")};
    }
    while (true) {
        const int rc = avcodec_receive_packet(m_encoder.get(), m_packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return {};
        if (rc < 0) return Error{failure("encoding failed (" + avErrorText(rc) + ")")};
        if (m_packet->duration == 0) m_packet->duration = 1;
        repairDecodingTime(*m_packet);
        av_packet_rescale_ts(m_packet.get(), m_encoder->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        const int written = av_interleaved_write_frame(m_muxer.get(), m_packet.get());
        if (written < 0) return Error{failure("cannot write (" + avErrorText(written) + ")")};
        avio_flush(m_muxer->pb);
        if (m_muxer->pb->error < 0) {
            return Error{failure("cannot write (" + avErrorText(m_muxer->pb->error) + ")")};
        }
    }
}

Result<void> MovieWriter::addFrame(const FrameImage& frame) {
    if (m_fragmentsFinished) return Error{failure("the movie is finished")};
    auto converted = m_converter.convert(frame);
    if (!converted) return Error{failure(converted.error())};
    AVFrame* image = *converted;
    image->pts = m_framesWritten;
    if (m_settings.qscale > 0) image->quality = m_encoder->global_quality;
    if (auto encoded = encode(image); !encoded) return encoded;
    ++m_framesWritten;
    if (m_soundtrack) return m_soundtrack->writeThrough(m_framesWritten);
    return {};
}

Result<void> MovieWriter::finishFragments() {
    if (m_fragmentsFinished) return *m_fragmentsFinished;
    auto drained = encode(nullptr);
    if (m_soundtrack && drained) drained = m_soundtrack->finish(m_framesWritten);
    m_parameters.reset(avcodec_parameters_alloc());
    if (m_parameters && avcodec_parameters_copy(m_parameters.get(), m_stream->codecpar) < 0) {
        m_parameters.reset();
    }
    if (int rc = av_write_trailer(m_muxer.get()); rc < 0 && drained) {
        drained = Error{failure("cannot finish the movie (" + avErrorText(rc) + ")")};
    }
    if (int rc = avio_closep(&m_muxer->pb); rc < 0 && drained) {
        drained = Error{failure("cannot finish the movie (" + avErrorText(rc) + ")")};
    }
    m_muxer.reset();
    m_encoder.reset();
    m_fragmentsFinished = drained;
    return drained;
}

Result<void> MovieWriter::updateMovieFile() {
    if (m_updated) return *m_updated;
    auto finished = finishFragments();
    // Matroska's trailer (cues, duration) already made it an ordinary file.
    m_updated = finished && m_container.fragmented
                    ? MovieRewriter::rewrite(m_path, m_timescale, kFrameDuration,
                                             m_parameters.get(), m_container.muxer)
                    : finished;
    return *m_updated;
}

}  // namespace lumivane
