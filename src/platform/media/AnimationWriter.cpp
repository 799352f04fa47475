#include "platform/media/AnimationWriter.h"

#include <cmath>
#include <filesystem>
#include <sstream>

#include "platform/media/CodecRegistry.h"
#include "platform/media/MediaLog.h"
#include "platform/media/MovieFrameSource.h"
#include "platform/media/MovieRewriter.h"
#include "platform/media/MovieWriter.h"
#include "platform/media/PaletteFilter.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace lumivane {
namespace {

constexpr int kFrameDuration = 600;  // in the kept frames' time scale, as MovieWriter has it
constexpr const char* kKeptCodec = "FFV1";
constexpr int kKeptQuality = 0;  // FFV1's fastest coder: the frames are read back once or twice
// Browsers show a GIF frame shorter than two hundredths for a tenth.
constexpr double kGifFastestRate = 50;
constexpr int kGifLargest = 65535;
constexpr int kWebpLargest = 16383;

// -q picks the dithering, flat bands at 0 to error diffusion at 4; up to 4
// only the rectangle that changed is mapped again, which keeps still parts
// from shimmering and the file small, 5 maps every frame whole.
const char* const kDithering[6] = {"0:diff_mode=rectangle",
                                   "bayer:bayer_scale=3:diff_mode=rectangle",
                                   "sierra2_4a:diff_mode=rectangle",
                                   "sierra2:diff_mode=rectangle",
                                   "floyd_steinberg:diff_mode=rectangle",
                                   "floyd_steinberg"};

// WebP's own quality scale; 5 is lossless.
const char* const kWebpQuality[6] = {"40", "60", "75", "85", "95", ""};

std::string rateText(double framerate) {
    std::ostringstream text;
    text << framerate;
    return text.str();
}

Result<void> checkSize(const std::string& path, const MovieContainer& container, int width,
                       int height) {
    const int largest = std::string(container.muxer) == "gif" ? kGifLargest : kWebpLargest;
    if (width > largest || height > largest) {
        return errorAt(path, std::string(container.name) + " pictures are at most " +
                                 std::to_string(largest) + " pixels wide and high");
    }
    return {};
}

Result<void> checkAll(const std::string& path, const std::string& fourcc, double framerate,
                      int width, int height) {
    const MovieContainer& container = containerForPath(path);
    if (!container.animation) return errorAt(path, "names no GIF or WebP file");
    if (auto refusal = containerRefusal(path, fourcc)) return Error{*refusal};
    if (!codecForFourCC(fourcc)) return Error{"'" + fourcc + "' is not an installed codec"};
    if (auto refusal = AnimationWriter::rateRefusal(path, framerate)) return Error{*refusal};
    return checkSize(path, container, width, height);
}

}  // namespace

std::optional<std::string> AnimationWriter::rateRefusal(const std::string& path, double framerate) {
    if (std::string(containerForPath(path).muxer) != "gif" || framerate <= kGifFastestRate)
        return std::nullopt;
    return describeAt(path, "GIF frames play at 50 frames per second at most, not " +
                                rateText(framerate) + "; lower the frame rate (-f)");
}

std::string AnimationWriter::keptFramesPath(const std::string& path) {
    return path + ".frames.mkv";
}

// Every quality level is a valid dithering or WebP quality.
Result<void> AnimationWriter::check(const std::string& path, const std::string& fourcc,
                                    int /*quality*/, double framerate, int width, int height,
                                    std::optional<MovieChunk> chunk) {
    if (auto checked = checkAll(path, fourcc, framerate, width, height); !checked) return checked;
    return MovieWriter::check(keptFramesPath(path), kKeptCodec, kKeptQuality, framerate, width,
                              height, chunk);
}

Result<std::unique_ptr<AnimationWriter>> AnimationWriter::create(const std::string& path,
                                                                 const std::string& fourcc,
                                                                 int quality, double framerate,
                                                                 int width, int height,
                                                                 std::optional<MovieChunk> chunk) {
    if (auto checked = checkAll(path, fourcc, framerate, width, height); !checked)
        return Error{checked.error()};
    // A picture build killed before its rename left a half-built file.
    MovieRewriter::removeStaleTemporaries(path);
    auto frames = MovieWriter::create(keptFramesPath(path), kKeptCodec, kKeptQuality, framerate,
                                      width, height, chunk);
    if (!frames) return Error{frames.error()};
    std::unique_ptr<AnimationWriter> writer(
        new AnimationWriter(path, qualityLevel(quality), std::move(frames.value())));
    writer->m_width = width;
    writer->m_height = height;
    // A GIF's colours are gathered as the frames come, which spares a pass
    // over the kept frames at the finish.
    if (writer->isGif()) {
        if (auto gathering = PaletteFilter::palette(width, height))
            writer->m_gathered = std::move(gathering.value());
    }
    return writer;
}

AnimationWriter::AnimationWriter(std::string path, int quality, std::unique_ptr<MovieWriter> frames)
    : m_path(std::move(path)),
      m_container(containerForPath(m_path)),
      m_quality(quality),
      m_timescale(frames->timescale()),
      m_frames(std::move(frames)),
      m_packet(av_packet_alloc()) {}

// Without build() the kept frames stay, as a killed render leaves them.
AnimationWriter::~AnimationWriter() = default;

Error AnimationWriter::failure(const std::string& what) const {
    return errorAt(m_path, what);
}

bool AnimationWriter::isGif() const {
    return std::string(m_container.muxer) == "gif";
}

int AnimationWriter::framesWritten() const {
    return m_frames->framesWritten();
}

Result<void> AnimationWriter::addFrame(const FrameImage& frame) {
    if (auto added = m_frames->addFrame(frame); !added) return added;
    if (m_gathered) gatherColours(frame);
    return {};
}

Result<void> AnimationWriter::finishFrames() {
    return m_frames->updateMovieFile();
}

Result<void> AnimationWriter::build() {
    if (m_built) return *m_built;
    auto finished = finishFrames();
    if (!finished) {
        m_built = finished;
        return finished;
    }
    const std::string kept = keptFramesPath(m_path);
    std::error_code ignored;
    if (framesWritten() == 0) {
        // Nothing to keep: the file at the path stays as it was.
        std::filesystem::remove(kept, ignored);
        m_built = failure("no frame was rendered, and a picture needs one");
        return *m_built;
    }
    auto built = MovieRewriter::replace(
        m_path, [&](const std::string& building) { return writeAnimation(building); });
    if (built) {
        std::filesystem::remove(kept, ignored);
        m_built = Result<void>();
    } else {
        m_built = Error{built.error() + "; the frames are kept in \"" + kept + "\""};
    }
    return *m_built;
}

Result<void> AnimationWriter::writeAnimation(const std::string& built) {
    if (!m_packet) return failure("out of memory");
    const std::string kept = keptFramesPath(m_path);
    if (isGif() && !takeGatheredPalette()) {
        auto frames = MovieFrameSource::open(kept, MovieSourceOptions{}, false);
        if (!frames) return Error{frames.error()};
        if (auto made = makePalette(**frames); !made) return made;
    }
    // Read again from the first frame for the picture itself.
    auto frames = MovieFrameSource::open(kept, MovieSourceOptions{}, false);
    if (!frames) return Error{frames.error()};
    if (auto opened = openEncoder(); !opened) return opened;
    if (auto opened = openMuxer(built); !opened) return opened;
    if (auto encoded = encodeAll(**frames); !encoded) return encoded;
    if (auto drained = encode(nullptr); !drained) return drained;
    int rc = av_write_trailer(m_muxer.get());
    const int closed = avio_closep(&m_muxer->pb);
    if (rc >= 0) rc = closed;
    m_muxer.reset();
    if (rc < 0) return failure("cannot finish the picture (" + avErrorText(rc) + ")");
    return {};
}

Result<AVFrame*> AnimationWriter::keptFrame(MovieFrameSource& frames, int index) {
    // The middle of the frame's interval, clear of rounding at either end;
    // an unchanged frame leaves the last one in place.
    auto kept = frames.frameAt((index + 0.5) * kFrameDuration / m_timescale, m_keptFrame);
    if (!kept) return Error{kept.error()};
    const MovieFrame& frame = m_keptFrame;
    if (frame.width != m_width || frame.height != m_height)
        return failure("the kept frames changed size");
    // The kept frames come bottom row first.
    return filled(frame.rgba.data(), true);
}

Result<AVFrame*> AnimationWriter::filled(const uint8_t* rgba, bool bottomFirst) {
    if (!m_frame) {
        m_frame.reset(av_frame_alloc());
        if (!m_frame) return failure("out of memory");
        m_frame->format = AV_PIX_FMT_RGB32;
        m_frame->width = m_width;
        m_frame->height = m_height;
        if (av_frame_get_buffer(m_frame.get(), 0) < 0) return failure("out of memory");
    }
    // The filters may still hold the last frame.
    if (av_frame_make_writable(m_frame.get()) < 0) return failure("out of memory");
    const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(AV_PIX_FMT_RGB32);
    for (int y = 0; y < m_height; ++y) {
        const uint8_t* from = rgba + size_t(bottomFirst ? m_height - 1 - y : y) * m_width * 4;
        uint8_t* to = m_frame->data[0] + size_t(y) * m_frame->linesize[0];
        for (int x = 0; x < m_width; ++x, from += 4, to += 4) {
            for (int channel = 0; channel < 4; ++channel)
                to[layout->comp[channel].offset] = from[channel];
        }
    }
    return m_frame.get();
}

void AnimationWriter::gatherColours(const FrameImage& frame) {
    // Frames of another size or in floating point are left to the pass over
    // the kept frames, as is everything after a failure.
    const auto* image = std::get_if<ImageRGBA8>(&frame);
    if (!image || image->width != m_width || image->height != m_height) {
        m_gathered.reset();
        return;
    }
    auto ready = filled(image->pixels.data(), false);
    if (ready) (*ready)->pts = framesWritten() - 1;
    const bool fed = ready && m_gathered->push(*ready) && m_gathered->pull();
    if (!fed) m_gathered.reset();
}

bool AnimationWriter::takeGatheredPalette() {
    if (!m_gathered || !m_gathered->push(nullptr)) return false;
    auto palette = m_gathered->pull();
    m_gathered.reset();
    if (!palette || !*palette) return false;
    m_palette = std::move(*palette);
    return true;
}

Result<void> AnimationWriter::makePalette(MovieFrameSource& frames) {
    auto filter = PaletteFilter::palette(m_width, m_height);
    if (!filter) return failure(filter.error());
    for (int index = 0; index < framesWritten(); ++index) {
        auto frame = keptFrame(frames, index);
        if (!frame) return Error{frame.error()};
        (*frame)->pts = index;
        if (auto pushed = filter->push(*frame); !pushed) return failure(pushed.error());
        // Drives the filter, which keeps statistics only.
        if (auto pulled = filter->pull(); !pulled) return failure(pulled.error());
    }
    if (auto ended = filter->push(nullptr); !ended) return failure(ended.error());
    auto palette = filter->pull();
    if (!palette) return failure(palette.error());
    if (!*palette) return failure("no palette came out of the frames");
    m_palette = std::move(*palette);
    return {};
}

Result<void> AnimationWriter::openEncoder() {
    const char* name = isGif() ? "gif" : "libwebp_anim";
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) return failure(std::string("encoder '") + name + "' is not available");
    m_encoder.reset(avcodec_alloc_context3(codec));
    if (!m_encoder) return failure("out of memory");
    m_encoder->width = m_width;
    m_encoder->height = m_height;
    m_encoder->sample_aspect_ratio = AVRational{1, 1};
    m_encoder->framerate = AVRational{m_timescale, kFrameDuration};
    AVOptions options;
    if (isGif()) {
        // GIF counts hundredths of a second.
        m_encoder->pix_fmt = AV_PIX_FMT_PAL8;
        m_encoder->time_base = AVRational{1, 100};
    } else {
        // Counted in frames: the encoder gives the last frame one unit.
        m_encoder->pix_fmt = AV_PIX_FMT_RGB32;
        m_encoder->time_base = AVRational{kFrameDuration, m_timescale};
        if (m_quality == 5) {
            options.set("lossless", "1");
        } else {
            options.set("quality", kWebpQuality[m_quality]);
        }
    }
    if (int rc = avcodec_open2(m_encoder.get(), codec, options.get()); rc < 0)
        return failure(std::string("cannot open encoder '") + name + "' (" + avErrorText(rc) + ")");
    return {};
}

Result<void> AnimationWriter::openMuxer(const std::string& built) {
    AVFormatContext* raw = nullptr;
    if (int rc = avformat_alloc_output_context2(&raw, nullptr, m_container.muxer,
                                                fileUrl(built).c_str());
        rc < 0)
        return failure(avErrorText(rc));
    m_muxer.reset(raw);
    m_stream = avformat_new_stream(m_muxer.get(), nullptr);
    if (!m_stream) return failure("out of memory");
    if (int rc = avcodec_parameters_from_context(m_stream->codecpar, m_encoder.get()); rc < 0)
        return failure(avErrorText(rc));
    m_stream->time_base = m_encoder->time_base;
    if (int rc = avio_open(&m_muxer->pb, fileUrl(built).c_str(), AVIO_FLAG_WRITE); rc < 0)
        return failure("cannot create the file (" + avErrorText(rc) + ")");
    AVOptions options;
    options.set("loop", "0");  // for ever
    if (int rc = avformat_write_header(m_muxer.get(), options.get()); rc < 0)
        return failure("cannot start the picture (" + avErrorText(rc) + ")");
    return {};
}

Result<void> AnimationWriter::encode(const AVFrame* frame) {
    if (int rc = avcodec_send_frame(m_encoder.get(), frame); rc < 0)
        return failure("encoding failed (" + avErrorText(rc) + ")");
    while (true) {
        const int rc = avcodec_receive_packet(m_encoder.get(), m_packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return {};
        if (rc < 0) return failure("encoding failed (" + avErrorText(rc) + ")");
        av_packet_rescale_ts(m_packet.get(), m_encoder->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        if (int written = av_write_frame(m_muxer.get(), m_packet.get()); written < 0)
            return failure("cannot write (" + avErrorText(written) + ")");
        av_packet_unref(m_packet.get());
    }
}

Result<void> AnimationWriter::encodeAll(MovieFrameSource& frames) {
    std::optional<PaletteFilter> dither;
    if (isGif()) {
        auto made = PaletteFilter::dither(m_width, m_height, *m_palette, kDithering[m_quality]);
        if (!made) return failure(made.error());
        dither = std::move(made.value());
    }
    for (int index = 0; index <= framesWritten(); ++index) {
        const bool last = index == framesWritten();
        AVFrame* frame = nullptr;
        if (!last) {
            auto kept = keptFrame(frames, index);
            if (!kept) return Error{kept.error()};
            frame = *kept;
            // The frame's start to GIF's hundredth; WebP counts frames.
            frame->pts =
                isGif() ? std::llround(index * 100.0 * kFrameDuration / m_timescale) : index;
        }
        if (!dither) {
            if (frame) {
                if (auto encoded = encode(frame); !encoded) return encoded;
            }
            continue;
        }
        if (auto pushed = dither->push(frame); !pushed) return failure(pushed.error());
        while (true) {
            auto mapped = dither->pull();
            if (!mapped) return failure(mapped.error());
            if (!*mapped) break;
            if (auto encoded = encode(mapped->get()); !encoded) return encoded;
        }
    }
    return {};
}

}  // namespace lumivane
