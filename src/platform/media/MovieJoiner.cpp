#include "platform/media/MovieJoiner.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "base/SystemError.h"
#include "platform/media/FFmpegHandles.h"
#include "platform/media/MediaLog.h"
#include "platform/media/MovieAudioTrack.h"
#include "platform/media/MovieChunk.h"
#include "platform/media/MovieContainer.h"
#include "platform/media/MovieRewriter.h"
#include "platform/media/MovieVerifier.h"
#include "platform/media/SoundtrackReader.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace lumivane {
namespace {

// What a piece's file told; only the piece being copied is open, so a join
// of many chunks needs no more files than one of two.
struct Piece {
    std::string path;
    int64_t fileSize = 0;
    MovieChunk chunk{};  // with the origin its movie carries
    // As decoding tells, with the pixel shape from the container where the
    // bitstream has none (FFV1): what the writer knew of its stream.
    AVCodecParametersUPtr parameters;
    AVRational timeBase{};
    int64_t frameDuration = 0;  // in timeBase
    AVRational frameRate{};     // where the file says: Matroska's times are rounded to ms
    bool matroska = false;      // Matroska or WebM, else QuickTime or MP4
    int64_t delay = 0;          // how long its first frame decodes before it is shown
    int64_t frames = 0;
    AVCodecParametersUPtr sound;  // the soundtrack's, when the piece has one
};

std::string quoted(const std::string& path) {
    return "\"" + path + "\"";
}

std::string rangeText(int first, int last) {
    return first == last ? "frame " + std::to_string(first)
                         : "frames " + std::to_string(first) + "-" + std::to_string(last);
}

Result<MovieChunk> chunkOf(const std::string& path, const AVFormatContext& input) {
    const AVDictionaryEntry* tag = av_dict_get(input.metadata, kMovieChunkKey, nullptr, 0);
    if (!tag) return errorAt(path, "holds no chunk of a split render (no chunk tag)");
    auto chunk = parseMovieChunk(tag->value);
    if (!chunk) return errorAt(path, chunk.error());
    if (const AVDictionaryEntry* origin = av_dict_get(input.metadata, kMovieOriginKey, nullptr, 0))
        chunk->origin = origin->value;
    return chunk;
}

// A sample the index puts beyond the end of the file was never written: the
// file was cut short (a copy that stopped, a full disk).
Result<void> checkSampleTable(const Piece& piece, AVStream& stream) {
    const int entries = avformat_index_get_entries_count(&stream);
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(&stream, i);
        if (entry && entry->pos + entry->size > piece.fileSize) {
            return errorAt(piece.path, "is cut short: frame " +
                                           std::to_string(piece.chunk.first + i) +
                                           " and what follows lie beyond its end (" +
                                           std::to_string(piece.fileSize) + " bytes)");
        }
    }
    return {};
}

// Frames in the movie after the first one, already read: its index's count,
// or for a fragmented movie (a chunk render that never finished) the packets
// themselves.
Result<int64_t> countFrames(const std::string& path, AVFormatContext& input) {
    if (input.streams[0]->nb_frames > 0) return input.streams[0]->nb_frames;
    AVPacketUPtr packet(av_packet_alloc());
    if (!packet) return errorAt(path, "out of memory");
    int64_t frames = 1;
    int rc = 0;
    while ((rc = av_read_frame(&input, packet.get())) >= 0) {
        frames += packet->stream_index == 0;
        av_packet_unref(packet.get());
    }
    if (rc != AVERROR_EOF) return errorAt(path, avErrorText(rc));
    return frames;
}

// A frame's duration as the frame rate says, for a reader that lost the
// first packet's (FFmpeg's can, on one-frame fragments).
int64_t frameDurationOf(const AVStream& stream) {
    const AVRational rate =
        stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) return 0;
    return av_rescale_q(1, av_inv_q(rate), stream.time_base);
}

// The frame duration and the reordering delay, from the first frame.
Result<void> readTiming(Piece& piece, AVFormatContext& input) {
    AVPacketUPtr packet(av_packet_alloc());
    if (!packet) return errorAt(piece.path, "out of memory");
    int rc = 0;
    do {
        av_packet_unref(packet.get());
        rc = av_read_frame(&input, packet.get());
    } while (rc >= 0 && packet->stream_index != 0);
    if (rc < 0) {
        return errorAt(piece.path, rc == AVERROR_EOF ? "holds no frames" : avErrorText(rc));
    }
    piece.frameDuration = packet->duration;
    if (packet->pts != AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE) {
        piece.delay = std::max<int64_t>(0, packet->pts - packet->dts);
    }
    return {};
}

Result<void> keepParameters(Piece& piece, const AVStream& stream) {
    piece.parameters.reset(avcodec_parameters_alloc());
    if (!piece.parameters) return errorAt(piece.path, "out of memory");
    if (int rc = avcodec_parameters_copy(piece.parameters.get(), stream.codecpar); rc < 0) {
        return errorAt(piece.path, avErrorText(rc));
    }
    if (piece.parameters->sample_aspect_ratio.num == 0) {
        piece.parameters->sample_aspect_ratio = stream.sample_aspect_ratio;
    }
    piece.timeBase = stream.time_base;
    piece.frameRate = stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
    return {};
}

Result<Piece> openPiece(const std::string& path, int64_t fileSize) {
    Piece piece;
    piece.path = path;
    piece.fileSize = fileSize;
    auto opened = MovieRewriter::openInput(path, true);
    if (!opened) return Error{opened.error()};
    AVFormatContext& input = **opened;
    const auto typeOf = [&](unsigned i) { return input.streams[i]->codecpar->codec_type; };
    if (input.nb_streams < 1 || input.nb_streams > 2 || typeOf(0) != AVMEDIA_TYPE_VIDEO ||
        (input.nb_streams == 2 && typeOf(1) != AVMEDIA_TYPE_AUDIO)) {
        return errorAt(path, "is no movie of one video track (and at most one soundtrack)");
    }
    if (input.nb_streams == 2) {
        piece.sound.reset(avcodec_parameters_alloc());
        if (!piece.sound ||
            avcodec_parameters_copy(piece.sound.get(), input.streams[1]->codecpar) < 0)
            return errorAt(path, "out of memory");
    }
    piece.matroska = std::string(input.iformat->name).find("matroska") != std::string::npos;
    auto chunk = chunkOf(path, input);
    if (!chunk) return Error{chunk.error()};
    piece.chunk = *chunk;
    if (auto table = checkSampleTable(piece, *input.streams[0]); !table)
        return Error{table.error()};
    if (auto kept = keepParameters(piece, *input.streams[0]); !kept) return Error{kept.error()};
    if (auto timing = readTiming(piece, input); !timing) return Error{timing.error()};
    auto frames = countFrames(path, input);
    if (!frames) return Error{frames.error()};
    piece.frames = *frames;
    if (piece.frameDuration <= 0) piece.frameDuration = frameDurationOf(*input.streams[0]);
    if (piece.frames != piece.chunk.frames()) {
        return errorAt(path, "holds " + std::to_string(piece.frames) + " frames where its tag (" +
                                 movieChunkText(piece.chunk) + ") says " +
                                 std::to_string(piece.chunk.frames()) +
                                 "; did its render stop early?");
    }
    if (piece.frameDuration <= 0) return errorAt(path, "its frames have no duration");
    return piece;
}

std::string rationalText(AVRational value) {
    return std::to_string(value.num) + "/" + std::to_string(value.den);
}

std::string soundText(const AVCodecParameters* sound) {
    if (!sound) return "no soundtrack";
    return std::string(avcodec_get_name(sound->codec_id)) + " sound at " +
           std::to_string(sound->sample_rate) + " Hz in " +
           std::to_string(sound->ch_layout.nb_channels) + " channels";
}

std::optional<std::string> soundDifference(const Piece& model, const Piece& piece) {
    const AVCodecParameters* p = model.sound.get();
    const AVCodecParameters* q = piece.sound.get();
    const bool same =
        (!p && !q) || (p && q && p->codec_id == q->codec_id && p->sample_rate == q->sample_rate &&
                       p->ch_layout.nb_channels == q->ch_layout.nb_channels);
    if (same) return std::nullopt;
    return soundText(q) + " (not " + soundText(p) + ")";
}

// The first property in which `piece` was written differently from `model`.
std::optional<std::string> difference(const Piece& model, const Piece& piece) {
    const AVCodecParameters& p = *model.parameters;
    const AVCodecParameters& q = *piece.parameters;
    auto differs = [](const std::string& what, const std::string& x, const std::string& y) {
        return std::optional<std::string>(what + " " + y + " (not " + x + ")");
    };
    if (p.codec_id != q.codec_id)
        return differs("codec", avcodec_get_name(p.codec_id), avcodec_get_name(q.codec_id));
    if (p.codec_tag != q.codec_tag) {
        char x[AV_FOURCC_MAX_STRING_SIZE] = {}, y[AV_FOURCC_MAX_STRING_SIZE] = {};
        return differs("codec tag", av_fourcc_make_string(x, p.codec_tag),
                       av_fourcc_make_string(y, q.codec_tag));
    }
    if (p.width != q.width || p.height != q.height) {
        return differs("size", std::to_string(p.width) + "x" + std::to_string(p.height),
                       std::to_string(q.width) + "x" + std::to_string(q.height));
    }
    if (p.format != q.format) {
        auto name = [](int format) {
            const char* text = av_get_pix_fmt_name(AVPixelFormat(format));
            return std::string(text ? text : "unknown");
        };
        return differs("pixel format", name(p.format), name(q.format));
    }
    if (av_cmp_q(model.timeBase, piece.timeBase) != 0)
        return differs("time base", rationalText(model.timeBase), rationalText(piece.timeBase));
    if (model.frameDuration != piece.frameDuration) {
        return differs("frame duration", std::to_string(model.frameDuration),
                       std::to_string(piece.frameDuration));
    }
    if (auto sound = soundDifference(model, piece)) return sound;
    if (p.color_range != q.color_range || p.color_primaries != q.color_primaries ||
        p.color_trc != q.color_trc || p.color_space != q.color_space) {
        return std::optional<std::string>("other colour tags");
    }
    if (p.extradata_size != q.extradata_size ||
        (p.extradata_size > 0 && std::memcmp(p.extradata, q.extradata, p.extradata_size) != 0)) {
        return std::optional<std::string>("other encoder settings (its codec header differs)");
    }
    return std::nullopt;
}

// Chunks of one render carry the same origin; a piece without one comes from
// a renderer that wrote none, and joins only with its like.
Result<void> checkOrigins(const std::vector<Piece>& pieces) {
    const Piece& model = pieces.front();
    for (const Piece& piece : pieces) {
        const std::string& ours = piece.chunk.origin;
        const std::string& theirs = model.chunk.origin;
        if (ours.empty() != theirs.empty()) {
            return errorAt(piece.path, std::string(ours.empty() ? "does not say" : "says") +
                                           " how it was rendered, " + quoted(model.path) +
                                           (ours.empty() ? " does" : " does not") +
                                           ": they are no chunks of one render");
        }
        if (auto different = originDifference(ours, theirs, quoted(model.path))) {
            return errorAt(piece.path, "is a chunk of another render: rendered with " + *different);
        }
    }
    return {};
}

// Every frame once: sorted pieces that neither leave a gap nor overlap.
Result<void> checkCoverage(const std::vector<Piece>& pieces) {
    const Piece& model = pieces.front();
    int next = 1;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const Piece& piece = pieces[i];
        if (piece.chunk.total != model.chunk.total) {
            return errorAt(piece.path, "is a chunk of " + std::to_string(piece.chunk.total) +
                                           " frames, " + quoted(model.path) + " of " +
                                           std::to_string(model.chunk.total));
        }
        if (piece.chunk.first > next) {
            return Error{rangeText(next, piece.chunk.first - 1) + " are missing" +
                         (i > 0 ? " (between " + quoted(pieces[i - 1].path) + " and " +
                                      quoted(piece.path) + ")"
                                : " (before " + quoted(piece.path) + ")")};
        }
        if (piece.chunk.first < next) {
            return Error{quoted(pieces[i - 1].path) + " and " + quoted(piece.path) + " overlap (" +
                         rangeText(piece.chunk.first, next - 1) + ")"};
        }
        next = piece.chunk.last + 1;
    }
    if (next <= model.chunk.total) {
        return Error{rangeText(next, model.chunk.total) + " are missing (after " +
                     quoted(pieces.back().path) + ")"};
    }
    for (const Piece& piece : pieces) {
        if (auto different = difference(model, piece)) {
            return errorAt(piece.path, "has " + *different + " than " + quoted(model.path));
        }
    }
    return {};
}

std::string fileKind(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "no regular file";
}

// What each piece is, told before any is opened: a FIFO or a device would
// block the join or feed it without end.
Result<std::vector<struct stat>> statPieces(const std::vector<std::string>& paths) {
    std::vector<struct stat> found(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        if (::stat(paths[i].c_str(), &found[i]) != 0) {
            return errorAt(paths[i], systemErrorText("cannot be read"));
        }
        if (!S_ISREG(found[i].st_mode)) {
            return errorAt(paths[i], "is " + fileKind(found[i].st_mode) + ", no movie");
        }
    }
    return found;
}

// The output must not be a piece under any name (itself, a hard or symbolic
// link): the join would write over what it reads.
Result<void> checkOutputIsNoPiece(const std::string& output, const std::vector<std::string>& paths,
                                  const std::vector<struct stat>& pieces) {
    struct stat target {};
    if (::stat(output.c_str(), &target) != 0) return {};
    for (size_t i = 0; i < paths.size(); ++i) {
        if (pieces[i].st_dev == target.st_dev && pieces[i].st_ino == target.st_ino) {
            return errorAt(output, "is the piece " + quoted(paths[i]) +
                                       " (or a link to it): the join would write over it");
        }
    }
    return {};
}

Result<std::vector<Piece>> openPieces(const std::vector<std::string>& paths,
                                      const std::vector<struct stat>& files) {
    if (paths.empty()) return Error{"no movies to join"};
    std::vector<Piece> pieces;
    for (size_t i = 0; i < paths.size(); ++i) {
        auto piece = openPiece(paths[i], files[i].st_size);
        if (!piece) return Error{piece.error()};
        pieces.push_back(std::move(*piece));
    }
    std::stable_sort(pieces.begin(), pieces.end(),
                     [](const Piece& a, const Piece& b) { return a.chunk.first < b.chunk.first; });
    if (auto same = checkOrigins(pieces); !same) return Error{same.error()};
    if (auto covered = checkCoverage(pieces); !covered) return Error{covered.error()};
    return pieces;
}

// The size the index gives the sample at `pos`. Packets come in index
// order, so the search starts where the last one was found.
std::optional<int> indexedSize(AVStream& stream, int64_t pos, int& cursor) {
    const int count = avformat_index_get_entries_count(&stream);
    for (int tried = 0; pos >= 0 && tried < count; ++tried) {
        const int i = (cursor + tried) % count;
        const AVIndexEntry* entry = avformat_index_get_entry(&stream, i);
        if (entry && entry->pos == pos) {
            cursor = i + 1;
            return entry->size;
        }
    }
    return std::nullopt;
}

// A packet the reader had to cut (the file ends inside it) or flagged as
// damaged would be copied as a frame that does not decode.
Result<void> checkPacket(const Piece& piece, AVStream& stream, const AVPacket& packet,
                         int64_t index, int& cursor) {
    const std::string frame = "frame " + std::to_string(piece.chunk.first + index);
    const std::optional<int> indexed = indexedSize(stream, packet.pos, cursor);
    if (indexed && *indexed != packet.size) {
        return errorAt(piece.path, frame + " is cut short (" + std::to_string(packet.size) +
                                       " of its " + std::to_string(*indexed) + " bytes)");
    }
    if (packet.flags & AV_PKT_FLAG_CORRUPT) return errorAt(piece.path, frame + " is damaged");
    return {};
}

// The joined soundtrack: every piece's samples, decoded and encoded again as
// one stream. Copying the packets would put each piece's AAC priming and
// padding between its neighbours; decoded, the pieces' samples follow on
// exactly, and PCM comes out bit for bit as the whole render wrote it.
class JoinedSound {
public:
    Result<void> addTrack(AVFormatContext& output, const Piece& model, const std::string& built) {
        const AVCodecParameters& sound = *model.sound;
        m_rate = sound.sample_rate;
        const AudioFormat format{sound.codec_id, sound.sample_rate, sound.ch_layout.nb_channels,
                                 sound.bit_rate};
        auto track = MovieAudioTrack::create(output, format, built);
        if (!track) return Error{track.error()};
        m_track = std::move(track.value());
        return {};
    }
    bool active() const { return m_track != nullptr; }

    Result<void> startPiece(const Piece& piece) {
        auto reader = SoundtrackReader::open(piece.path);
        if (!reader) return Error{reader.error()};
        m_reader = std::move(reader.value());
        m_piece = &piece;
        m_read = 0;
        return {};
    }

    // The piece's samples up to the end of its frame `frames` - 1.
    Result<void> writeThrough(int64_t frames) {
        const int64_t first = samplesBefore(m_piece->chunk.first - 1);
        const int64_t end = samplesBefore(m_piece->chunk.first - 1 + frames) - first;
        constexpr int64_t kBlock = 1 << 16;
        while (m_read < end) {
            const int64_t count = std::min(end - m_read, kBlock);
            if (auto read = m_reader->read(m_read, count, m_samples); !read) return read;
            if (auto written = m_track->write(m_samples.data(), count); !written) return written;
            m_read += count;
        }
        return {};
    }

    Result<void> finish() { return m_track->finish(); }

private:
    // As the writer counts them: the samples before frame `frame` of the render.
    int64_t samplesBefore(int64_t frame) const {
        return av_rescale_rnd(frame, m_piece->frameDuration * m_rate, m_piece->timeBase.den,
                              AV_ROUND_NEAR_INF);
    }

    std::unique_ptr<MovieAudioTrack> m_track;
    std::unique_ptr<SoundtrackReader> m_reader;
    const Piece* m_piece = nullptr;
    int m_rate = 0;
    int64_t m_read = 0;
    std::vector<float> m_samples;
};

// When a frame shown `local` after the piece's first is shown in the whole
// render. Matroska rounds times to milliseconds: counted in frames by the
// frame rate, each comes out as the whole render's own rounding.
int64_t wholeRenderTime(const Piece& piece, int64_t local) {
    const int64_t before = piece.chunk.first - 1;
    if (piece.frameRate.num <= 0 || piece.frameRate.den <= 0)
        return before * piece.frameDuration + local;
    const AVRational frame = av_inv_q(piece.frameRate);
    const int64_t frames = av_rescale_q(local, piece.timeBase, frame);
    return av_rescale_q(before + frames, frame, piece.timeBase);
}

// Copies one piece's packets, moved to where its frames sit in the whole
// render. Each piece starts with a keyframe shown first; like the rewrite of
// a single render, that frame's time is the piece's start. Its decoding times
// start `delay` before it, the longest reordering delay of all pieces (an
// encoder reorders nothing in a piece of a frame or two): so they run on from
// piece to piece as in one encoder's stream, and the first piece's delay,
// written as the movie's edit list, is the single render's.
Result<void> copyPiece(const Piece& piece, int64_t delay, AVFormatContext& output, int64_t& lastDts,
                       const std::string& built, JoinedSound& sound) {
    if (sound.active()) {
        if (auto started = sound.startPiece(piece); !started) return started;
    }
    auto input = MovieRewriter::openInput(piece.path, false);
    if (!input) return Error{input.error()};
    AVPacketUPtr packet(av_packet_alloc());
    if (!packet) return errorAt(piece.path, "out of memory");
    const AVRational from = (*input)->streams[0]->time_base;
    const AVRational to = output.streams[0]->time_base;
    const int64_t offset = wholeRenderTime(piece, 0);
    int64_t start = AV_NOPTS_VALUE;
    int64_t copied = 0;
    int rc = 0;
    int cursor = 0;
    while ((rc = av_read_frame(input->get(), packet.get())) >= 0) {
        // The piece's own soundtrack packets are not copied: see JoinedSound.
        if (packet->stream_index != 0) {
            av_packet_unref(packet.get());
            continue;
        }
        if (auto whole = checkPacket(piece, *(*input)->streams[0], *packet, copied, cursor);
            !whole) {
            return whole;
        }
        if (start == AV_NOPTS_VALUE) start = packet->pts != AV_NOPTS_VALUE ? packet->pts : 0;
        int64_t shift = offset - start;
        if (packet->pts != AV_NOPTS_VALUE) {
            const int64_t moved = wholeRenderTime(piece, packet->pts - start);
            shift = moved - packet->pts;
            packet->pts = moved;
        }
        if (packet->dts != AV_NOPTS_VALUE) packet->dts += shift - (delay - piece.delay);
        if (packet->dts != AV_NOPTS_VALUE && lastDts != AV_NOPTS_VALUE && packet->dts <= lastDts) {
            return errorAt(piece.path, "its frames decode before those of the piece ahead of it");
        }
        if (packet->dts != AV_NOPTS_VALUE) lastDts = packet->dts;
        packet->duration = piece.frameDuration;
        av_packet_rescale_ts(packet.get(), from, to);
        packet->stream_index = 0;
        packet->pos = -1;
        if (int written = av_interleaved_write_frame(&output, packet.get()); written < 0) {
            return errorAt(built, avErrorText(written));
        }
        ++copied;
        if (sound.active()) {
            if (auto written = sound.writeThrough(copied); !written) return written;
        }
    }
    if (rc != AVERROR_EOF) return errorAt(piece.path, avErrorText(rc));
    if (copied != piece.frames) {
        return errorAt(piece.path, "gave " + std::to_string(copied) + " of its " +
                                       std::to_string(piece.frames) + " frames");
    }
    return {};
}

Result<void> writeJoined(const std::vector<Piece>& pieces, const std::string& built,
                         const MovieContainer& container, bool verify) {
    const Piece& model = pieces.front();
    // The stream as the first piece's header has it, completed as the writer
    // completes a single render's.
    auto header = MovieRewriter::openInput(model.path, false);
    if (!header) return Error{header.error()};
    JoinedSound sound;
    std::function<Result<void>(AVFormatContext&)> addSound;
    if (model.sound)
        addSound = [&](AVFormatContext& output) { return sound.addTrack(output, model, built); };
    auto output =
        MovieRewriter::openOutput(built, **header, model.timeBase.den, model.parameters.get(),
                                  false, container.muxer, addSound);
    if (!output) return Error{output.error()};
    int64_t delay = 0;
    for (const Piece& piece : pieces) delay = std::max(delay, piece.delay);
    int64_t lastDts = AV_NOPTS_VALUE;
    for (const Piece& piece : pieces) {
        if (auto copied = copyPiece(piece, delay, **output, lastDts, built, sound); !copied) {
            return copied;
        }
    }
    if (sound.active()) {
        if (auto finished = sound.finish(); !finished) return finished;
    }
    if (auto finished = MovieRewriter::finishOutput(**output, built); !finished) return finished;
    if (!verify) return {};
    return MovieVerifier::decodeAll(built, model.chunk.total);
}

// Where the joined movie goes must take a movie: a file or nothing yet, in
// a directory that exists.
// The output's container must be the pieces': one family's stream headers
// and codes do not carry over into the other's.
Result<void> checkContainer(const std::vector<Piece>& pieces, const std::string& output) {
    const bool matroskaOut = !containerForPath(output).fragmented;
    for (const Piece& piece : pieces) {
        if (piece.matroska != matroskaOut) {
            return errorAt(piece.path, std::string("is a ") +
                                           (piece.matroska ? "Matroska" : "QuickTime or MP4") +
                                           " movie, and the join writes " +
                                           containerForPath(output).name + " (" + quoted(output) +
                                           ")");
        }
    }
    return {};
}

Result<void> checkOutput(const std::string& output) {
    const std::filesystem::path target(MovieRewriter::finalTarget(output));
    std::error_code error;
    const auto status = std::filesystem::status(target, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        return errorAt(output, "is no file a movie can replace");
    }
    if (auto unwritten = unwrittenFormat(output)) return Error{*unwritten};
    // A GIF's palette is its own: pieces made with others cannot be joined
    // without mapping every frame again.
    if (containerForPath(output).animation) {
        return errorAt(
            output,
            "GIF and WebP pictures are not joined; join QuickTime, MP4, Matroska or WebM "
            "pieces and make the picture from the whole");
    }
    const std::filesystem::path directory =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    if (!std::filesystem::is_directory(directory, error)) {
        return errorAt(output, "its directory does not exist");
    }
    return {};
}

}  // namespace

Result<void> MovieJoiner::join(const std::vector<std::string>& paths, const std::string& output,
                               bool verify) {
    installMediaLog();
    if (auto usable = checkOutput(output); !usable) return usable;
    auto files = statPieces(paths);
    if (!files) return Error{files.error()};
    if (auto apart = checkOutputIsNoPiece(output, paths, *files); !apart) return apart;
    auto pieces = openPieces(paths, *files);
    if (!pieces) return Error{pieces.error()};
    if (auto same = checkContainer(*pieces, output); !same) return same;
    if (pieces->front().timeBase.num != 1) {
        return errorAt(pieces->front().path, "its time base is no time scale (1/n)");
    }
    MovieRewriter::removeStaleTemporaries(output);
    return MovieRewriter::replace(output, [&](const std::string& built) {
        return writeJoined(*pieces, built, containerForPath(output), verify);
    });
}

}  // namespace lumivane
