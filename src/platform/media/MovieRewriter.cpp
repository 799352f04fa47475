#include "platform/media/MovieRewriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/FileHandles.h"
#include "base/SystemError.h"
#include "platform/media/FFmpegHandles.h"
#include "platform/media/MovieChunk.h"

namespace lumivane {
namespace {

std::function<void(int)>& copyObserver() {
    static std::function<void(int)> observer;
    return observer;
}

// A context's file name as the user gave it, for messages.
std::string plainPath(const char* url) {
    const std::string text = url ? url : "";
    return text.rfind("file:", 0) == 0 ? text.substr(5) : text;
}

// The file the rewrite builds, open for the checks and the copy at the end.
struct Temporary {
    std::unique_ptr<TemporaryFile> file;
    UniqueFd fd;
};

std::string randomSuffix() {
    static constexpr char kCharacters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kCharacters - 2);
    std::string suffix(6, ' ');
    for (char& c : suffix) c = kCharacters[pick(generator)];
    return suffix;
}

// Registered before it exists, unlike mkstemp's file: a stop that comes while
// it is being created must still find it to remove.
Result<Temporary> makeTemporary(const std::string& target) {
    const std::string pattern = MovieRewriter::temporaryPattern(target);
    const std::string lead = pattern.substr(0, pattern.size() - 6);  // without "XXXXXX"
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto file = std::make_unique<TemporaryFile>(lead + randomSuffix());
        UniqueFd fd(::open(file->path().c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd) return Temporary{std::move(file), std::move(fd)};
        const int error = errno;
        file->keep();  // someone else's file, or none: never ours to remove
        if (error != EEXIST) {
            errno = error;
            return errorAt(pattern, systemErrorText("cannot create a temporary file"));
        }
    }
    return errorAt(pattern, "cannot create a temporary file: every name tried was taken");
}

// Renaming the new file over the movie would change what the movie is to
// others when it has other names (hard links) or an owner the new file cannot
// be given. Tries to give it the owner on the way.
bool mustCopyBack(int fd, const struct stat& movie) {
    if (movie.st_nlink > 1) return true;
    if (::fchown(fd, movie.st_uid, movie.st_gid) != 0) return true;
    struct stat made {};
    return ::fstat(fd, &made) != 0 || made.st_uid != movie.st_uid || made.st_gid != movie.st_gid;
}

}  // namespace

Result<AVInputFormatContextUPtr> MovieRewriter::openInput(const std::string& path, bool probe) {
    AVFormatContext* raw = nullptr;
    if (int rc = avformat_open_input(&raw, fileUrl(path).c_str(), nullptr, nullptr); rc < 0) {
        return errorAt(path, avErrorText(rc));
    }
    AVInputFormatContextUPtr input(raw);
    if (!probe) return input;
    if (int rc = avformat_find_stream_info(input.get(), nullptr); rc < 0) {
        return errorAt(path, avErrorText(rc));
    }
    return input;
}

namespace {

// The header gives codec, size, tag and extradata in the file's own form;
// what only decoding would tell comes from the writer.
void fillIn(AVCodecParameters& parameters, const AVCodecParameters& known) {
    if (parameters.width <= 0 || parameters.height <= 0) {
        parameters.width = known.width;
        parameters.height = known.height;
    }
    if (parameters.sample_aspect_ratio.num == 0) {
        parameters.sample_aspect_ratio = known.sample_aspect_ratio;
    }
    if (parameters.format < 0) parameters.format = known.format;
    if (parameters.color_range == AVCOL_RANGE_UNSPECIFIED)
        parameters.color_range = known.color_range;
    if (parameters.color_primaries == AVCOL_PRI_UNSPECIFIED) {
        parameters.color_primaries = known.color_primaries;
    }
    if (parameters.color_trc == AVCOL_TRC_UNSPECIFIED) parameters.color_trc = known.color_trc;
    if (parameters.color_space == AVCOL_SPC_UNSPECIFIED) parameters.color_space = known.color_space;
    if (parameters.profile == FF_PROFILE_UNKNOWN) parameters.profile = known.profile;
    if (parameters.level == FF_LEVEL_UNKNOWN) parameters.level = known.level;
    if (parameters.bits_per_raw_sample == 0) {
        parameters.bits_per_raw_sample = known.bits_per_raw_sample;
    }
}

}  // namespace

Result<AVOutputFormatContextUPtr> MovieRewriter::openOutput(
    const std::string& path, const AVFormatContext& input, int timescale,
    const AVCodecParameters* known, bool keepChunk, const char* muxer,
    const std::function<Result<void>(AVFormatContext&)>& addSound) {
    AVFormatContext* raw = nullptr;
    if (int rc = avformat_alloc_output_context2(&raw, nullptr, muxer, fileUrl(path).c_str());
        rc < 0) {
        return errorAt(path, avErrorText(rc));
    }
    AVOutputFormatContextUPtr output(raw);
    for (unsigned i = 0; i < input.nb_streams; ++i) {
        if (addSound && input.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) continue;
        AVStream* stream = avformat_new_stream(output.get(), nullptr);
        if (!stream) return errorAt(path, "out of memory");
        if (int rc = avcodec_parameters_copy(stream->codecpar, input.streams[i]->codecpar);
            rc < 0) {
            return errorAt(path, avErrorText(rc));
        }
        // The video track is the first; a soundtrack keeps its sample rate's clock.
        const bool audio = stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        if (known && i == 0 && !audio) fillIn(*stream->codecpar, *known);
        stream->time_base = AVRational{1, audio ? stream->codecpar->sample_rate : timescale};
        stream->avg_frame_rate = input.streams[i]->avg_frame_rate;
    }
    if (addSound) {
        if (auto added = addSound(*output); !added) return Error{added.error()};
    }
    if (int rc = avio_open(&output->pb, fileUrl(path).c_str(), AVIO_FLAG_WRITE); rc < 0) {
        return errorAt(path, avErrorText(rc));
    }
    AVOptions options;
    // The index in front lets a player start before it has the whole file. The
    // extra pass copies the file once more in the page cache; against writing
    // it out and syncing it, that costs little (see media_bench's finishing).
    options.set("movflags", "+faststart");
    options.set("video_track_timescale", std::to_string(timescale));
    // A chunk of a split render stays one through the rewrite, with its
    // origin; the join needs both.
    const AVDictionaryEntry* chunk =
        keepChunk ? av_dict_get(input.metadata, kMovieChunkKey, nullptr, 0) : nullptr;
    if (chunk) {
        options.set("movflags", "+faststart+use_metadata_tags");
        av_dict_set(&output->metadata, kMovieChunkKey, chunk->value, 0);
        if (const AVDictionaryEntry* origin =
                av_dict_get(input.metadata, kMovieOriginKey, nullptr, 0)) {
            av_dict_set(&output->metadata, kMovieOriginKey, origin->value, 0);
        }
    }
    if (int rc = avformat_write_header(output.get(), options.get()); rc < 0) {
        return errorAt(path, avErrorText(rc));
    }
    return output;
}

namespace {

// The fragments start where the first frame is shown after the encoder's
// reordering delay. The first packet is that frame (a stream opens with a
// keyframe shown first); shifting it to 0 lets the muxer write the delay as an
// edit list, so the movie starts and lasts as the frames say.
void shift(AVPacket& packet, int64_t by) {
    if (packet.pts != AV_NOPTS_VALUE) packet.pts -= by;
    if (packet.dts != AV_NOPTS_VALUE) packet.dts -= by;
}

// Copies `packet`, already read, and every packet after it. Every track
// moves by as much as the video track (the first) needs for its first frame
// to be shown at 0, so a soundtrack stays in step and its priming goes before
// 0, where the muxer's edit list leaves it unplayed.
class PacketCopy {
public:
    PacketCopy(AVFormatContext& input, AVFormatContext& output, int frameDuration)
        : m_input(input),
          m_output(output),
          m_frameDuration(frameDuration),
          m_waiting(input.nb_streams),
          m_seen(input.nb_streams, false) {}

    Result<void> run(AVPacket& packet) {
        int rc = 0;
        do {
            if (rc < 0) return errorAt(plainPath(m_input.url), avErrorText(rc));
            auto taken = packet.stream_index == 0 ? video(packet) : audio(packet);
            if (!taken) return taken;
        } while ((rc = av_read_frame(&m_input, &packet)) != AVERROR_EOF);
        for (size_t index = 1; index < m_waiting.size(); ++index) {
            if (!m_waiting[index]) continue;
            // The fragments lose the last packet's duration; the sound ends
            // with the last frame.
            AVPacket& last = *m_waiting[index];
            const int64_t end = av_rescale_q(m_videoEnd, m_output.streams[0]->time_base,
                                             m_input.streams[index]->time_base) +
                                shiftOf(int(index));
            if (last.pts != AV_NOPTS_VALUE && end > last.pts)
                last.duration =
                    std::min(last.duration > 0 ? last.duration : end - last.pts, end - last.pts);
            if (auto written = write(last); !written) return written;
        }
        return {};
    }

private:
    int64_t shiftOf(int index) const {
        return av_rescale_q(m_videoStart, m_input.streams[0]->time_base,
                            m_input.streams[index]->time_base);
    }

    Result<void> video(AVPacket& packet) {
        if (!m_seen[0]) m_videoStart = packet.pts != AV_NOPTS_VALUE ? packet.pts : 0;
        m_seen[0] = true;
        return write(packet);
    }

    // Each audio packet waits for the next. The fragments put a track's
    // first packet at 0 however long before the next it began: it ends
    // where the next begins.
    Result<void> audio(AVPacket& packet) {
        const int index = packet.stream_index;
        if (AVPacketUPtr& waiting = m_waiting[index]) {
            if (!m_seen[index] && packet.pts != AV_NOPTS_VALUE) {
                int length =
                    av_get_audio_frame_duration2(m_input.streams[index]->codecpar, waiting->size);
                // An AAC packet does not tell its length; the writer's are LC's 1024.
                const AVCodecParameters& codec = *m_input.streams[index]->codecpar;
                if (length <= 0) length = codec.frame_size;
                if (length <= 0 && codec.codec_id == AV_CODEC_ID_AAC) length = 1024;
                if (length > 0) {
                    waiting->pts = waiting->dts = packet.pts - length;
                    waiting->duration = length;
                }
            }
            m_seen[index] = true;
            if (auto written = write(*waiting); !written) return written;
        }
        m_waiting[index].reset(av_packet_clone(&packet));
        if (!m_waiting[index]) return errorAt(plainPath(m_input.url), "out of memory");
        return {};
    }

    Result<void> write(AVPacket& packet) {
        const int index = packet.stream_index;
        shift(packet, index == 0 ? m_videoStart : shiftOf(index));
        av_packet_rescale_ts(&packet, m_input.streams[index]->time_base,
                             m_output.streams[index]->time_base);
        if (index == 0) {
            packet.duration = m_frameDuration;
            if (packet.pts != AV_NOPTS_VALUE)
                m_videoEnd = std::max(m_videoEnd, packet.pts + m_frameDuration);
        }
        packet.pos = -1;
        if (int wrc = av_interleaved_write_frame(&m_output, &packet); wrc < 0) {
            return errorAt(plainPath(m_output.url), avErrorText(wrc));
        }
        ++m_copied;
        if (copyObserver()) copyObserver()(m_copied);
        return {};
    }

    AVFormatContext& m_input;
    AVFormatContext& m_output;
    const int m_frameDuration;
    std::vector<AVPacketUPtr> m_waiting;
    std::vector<bool> m_seen;
    int64_t m_videoStart = 0;  // the first frame's time, in the input's video time base
    int64_t m_videoEnd = 0;    // in the output's
    int m_copied = 0;
};

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}

bool copyAll(int from, int to) {
    std::vector<char> buffer(size_t(1) << 20);
    for (off_t offset = 0;;) {
        const ssize_t got = ::pread(from, buffer.data(), buffer.size(), offset);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        if (!writeAll(to, buffer.data(), size_t(got))) return false;
        offset += got;
    }
}

// Writes the finished movie into the movie's own file, which keeps its links
// and owner. From the truncation on, the temporary file is the only whole
// movie, so it stops being pending and stays if the copy fails.
Result<void> copyBack(Temporary& temporary, const std::string& target, const std::string& shown) {
    temporary.file->keep();
    const std::string& kept = temporary.file->path();
    const UniqueFd to(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!to) {
        const std::string why = systemErrorText("cannot reopen it to write the rewritten movie");
        ::unlink(kept.c_str());  // nothing was truncated: the movie is still whole
        return errorAt(shown, why);
    }
    if (!copyAll(temporary.fd.get(), to.get()) || ::fsync(to.get()) != 0) {
        return errorAt(shown, systemErrorText("cannot write the rewritten movie into it; it is "
                                              "whole in \"" +
                                              kept + "\""));
    }
    ::unlink(kept.c_str());
    return {};
}

// The new movie must be on disk before it replaces the old one.
Result<void> placeMovie(Temporary& temporary, const std::string& target, const std::string& shown,
                        bool copy) {
    if (::fsync(temporary.fd.get()) != 0) {
        return errorAt(temporary.file->path(), systemErrorText("cannot sync"));
    }
    if (copy) return copyBack(temporary, target, shown);
    if (!temporary.file->renameTo(target)) {
        return errorAt(shown, systemErrorText("cannot replace it with the rewritten movie"));
    }
    return {};
}

// What a new file's mode is under the process's umask, read without changing
// it (umask() would, for every thread at once).
mode_t newFileMode() {
    mode_t mask = 022;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Umask:", 0) == 0) mask = mode_t(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return 0666 & ~mask;
}

bool isTemporaryName(const std::string& name, const std::string& prefix) {
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    return std::all_of(name.begin() + long(prefix.size()), name.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
}

void removeTemporariesOf(const std::filesystem::path& movie) {
    const std::filesystem::path directory =
        movie.has_parent_path() ? movie.parent_path() : std::filesystem::path(".");
    const std::string prefix =
        std::filesystem::path(MovieRewriter::temporaryPattern(movie.string())).filename().string();
    const std::string lead = prefix.substr(0, prefix.size() - 6);  // without "XXXXXX"
    std::error_code error;
    for (std::filesystem::directory_iterator entries(directory, error), end;
         !error && entries != end; entries.increment(error)) {
        if (!isTemporaryName(entries->path().filename().string(), lead)) continue;
        std::error_code ignored;
        if (!entries->is_regular_file(ignored) || entries->is_symlink(ignored)) continue;
        // A leftover we cannot remove harms nothing; the render goes on.
        std::filesystem::remove(entries->path(), ignored);
    }
}

}  // namespace

std::string MovieRewriter::temporaryPattern(const std::string& path) {
    const std::filesystem::path moviePath(path);
    return (moviePath.parent_path() / ("." + moviePath.filename().string() + ".rewrite-XXXXXX"))
        .string();
}

std::string MovieRewriter::finalTarget(const std::string& path) {
    std::filesystem::path current(path);
    // The system's own limit on links followed; a longer chain fails when opened.
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, error))) break;
        const std::filesystem::path next = std::filesystem::read_symlink(current, error);
        if (error) break;
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return current.string();
}

void MovieRewriter::removeStaleTemporaries(const std::string& path) {
    removeTemporariesOf(path);
    const std::string target = finalTarget(path);
    if (target != path) removeTemporariesOf(target);
}

void MovieRewriter::setCopyObserver(std::function<void(int)> observer) {
    copyObserver() = std::move(observer);
}

Result<void> MovieRewriter::replace(const std::string& path,
                                    const std::function<Result<void>(const std::string&)>& build) {
    const std::string target = finalTarget(path);
    struct stat movie {};
    const bool exists = ::stat(target.c_str(), &movie) == 0;
    if (!exists && errno != ENOENT) return errorAt(path, systemErrorText("cannot stat"));
    auto temporary = makeTemporary(target);
    if (!temporary) return Error{temporary.error()};
    const bool copy = exists && mustCopyBack(temporary->fd.get(), movie);
    // After the owner: changing it can clear set-id bits. Mode kept best-effort.
    (void)::fchmod(temporary->fd.get(), exists ? movie.st_mode & 07777 : newFileMode());
    if (auto built = build(temporary->file->path()); !built) return built;
    return placeMovie(*temporary, target, path, copy);
}

Result<void> MovieRewriter::rewrite(const std::string& path, int timescale, int frameDuration,
                                    const AVCodecParameters* known, const char* muxer) {
    auto input = openInput(path, known == nullptr);
    if (!input) return Error{input.error()};
    AVPacketUPtr packet(av_packet_alloc());
    if (!packet) return errorAt(path, "out of memory");
    const int first = av_read_frame(input->get(), packet.get());
    // With no frames the file is only its index already; an ordinary movie
    // would drop the empty track, so it stays as it is.
    if (first == AVERROR_EOF) return {};
    if (first < 0) return errorAt(path, avErrorText(first));
    return replace(path, [&](const std::string& built) -> Result<void> {
        auto output = openOutput(built, **input, timescale, known, true, muxer);
        if (!output) return Error{output.error()};
        if (auto copied = PacketCopy(**input, **output, frameDuration).run(*packet); !copied) {
            return copied;
        }
        return finishOutput(**output, built);
    });
}

Result<void> MovieRewriter::finishOutput(AVFormatContext& output, const std::string& built) {
    if (int rc = av_write_trailer(&output); rc < 0) return errorAt(built, avErrorText(rc));
    if (int rc = avio_closep(&output.pb); rc < 0) return errorAt(built, avErrorText(rc));
    return {};
}

}  // namespace lumivane
