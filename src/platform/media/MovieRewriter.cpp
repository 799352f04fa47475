#include "platform/media/MovieRewriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "base/FileHandles.h"
#include "platform/media/FFmpegHandles.h"

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

Result<std::string> makeTemporary(const std::string& path) {
    std::string pattern = MovieRewriter::temporaryPattern(path);
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const UniqueFd fd(::mkstemp(name.data()));
    if (!fd) return errorAt(pattern, "cannot create a temporary file");
    // mkstemp makes the file private; the rewritten movie keeps the movie's mode.
    struct stat movie {};
    if (::stat(path.c_str(), &movie) == 0) (void)::fchmod(fd.get(), movie.st_mode & 07777);
    return std::string(name.data());
}

Result<AVInputFormatContextUPtr> openInput(const std::string& path, bool probe) {
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

Result<AVOutputFormatContextUPtr> openOutput(const std::string& path, const AVFormatContext& input,
                                             int timescale, const AVCodecParameters* known) {
    AVFormatContext* raw = nullptr;
    if (int rc = avformat_alloc_output_context2(&raw, nullptr, "mov", fileUrl(path).c_str());
        rc < 0) {
        return errorAt(path, avErrorText(rc));
    }
    AVOutputFormatContextUPtr output(raw);
    for (unsigned i = 0; i < input.nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(output.get(), nullptr);
        if (!stream) return errorAt(path, "out of memory");
        if (int rc = avcodec_parameters_copy(stream->codecpar, input.streams[i]->codecpar);
            rc < 0) {
            return errorAt(path, avErrorText(rc));
        }
        if (known && input.nb_streams == 1) fillIn(*stream->codecpar, *known);
        stream->time_base = AVRational{1, timescale};
        stream->avg_frame_rate = input.streams[i]->avg_frame_rate;
    }
    if (int rc = avio_open(&output->pb, fileUrl(path).c_str(), AVIO_FLAG_WRITE); rc < 0) {
        return errorAt(path, avErrorText(rc));
    }
    AVOptions options;
    options.set("movflags", "+faststart");
    options.set("video_track_timescale", std::to_string(timescale));
    if (int rc = avformat_write_header(output.get(), options.get()); rc < 0) {
        return errorAt(path, avErrorText(rc));
    }
    return output;
}

// The fragments start where the first frame is shown after the encoder's
// reordering delay. The first packet is that frame (a stream opens with a
// keyframe shown first); shifting it to 0 lets the muxer write the delay as an
// edit list, so the movie starts and lasts as the frames say.
void shift(AVPacket& packet, int64_t by) {
    if (packet.pts != AV_NOPTS_VALUE) packet.pts -= by;
    if (packet.dts != AV_NOPTS_VALUE) packet.dts -= by;
}

// Copies `packet`, already read, and every packet after it.
Result<void> copyPackets(AVFormatContext& input, AVFormatContext& output, AVPacket& packet,
                         int frameDuration) {
    const int64_t start = packet.pts != AV_NOPTS_VALUE ? packet.pts : 0;
    int copied = 0;
    int rc = 0;
    do {
        if (rc < 0) return errorAt(plainPath(input.url), avErrorText(rc));
        const AVStream* from = input.streams[packet.stream_index];
        const AVStream* to = output.streams[packet.stream_index];
        shift(packet, start);
        av_packet_rescale_ts(&packet, from->time_base, to->time_base);
        packet.duration = frameDuration;
        packet.pos = -1;
        if (int wrc = av_interleaved_write_frame(&output, &packet); wrc < 0) {
            return errorAt(plainPath(output.url), avErrorText(wrc));
        }
        ++copied;
        if (copyObserver()) copyObserver()(copied);
    } while ((rc = av_read_frame(&input, &packet)) != AVERROR_EOF);
    return {};
}

// The data must be on disk before the rename makes it the movie.
Result<void> syncFile(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY));
    if (!fd) return errorAt(path, "cannot reopen to sync");
    if (::fsync(fd.get()) != 0) return errorAt(path, "cannot sync");
    return {};
}

}  // namespace

std::string MovieRewriter::temporaryPattern(const std::string& path) {
    const std::filesystem::path moviePath(path);
    return (moviePath.parent_path() / ("." + moviePath.filename().string() + ".rewrite-XXXXXX"))
        .string();
}

void MovieRewriter::setCopyObserver(std::function<void(int)> observer) {
    copyObserver() = std::move(observer);
}

Result<void> MovieRewriter::rewrite(const std::string& path, int timescale, int frameDuration,
                                    const AVCodecParameters* known) {
    auto input = openInput(path, known == nullptr);
    if (!input) return Error{input.error()};
    AVPacketUPtr packet(av_packet_alloc());
    if (!packet) return errorAt(path, "out of memory");
    const int first = av_read_frame(input->get(), packet.get());
    // With no frames the file is only its index already; an ordinary movie
    // would drop the empty track, so it stays as it is.
    if (first == AVERROR_EOF) return {};
    if (first < 0) return errorAt(path, avErrorText(first));
    auto temporaryPath = makeTemporary(path);
    if (!temporaryPath) return Error{temporaryPath.error()};
    TemporaryFile temporary(*temporaryPath);
    {
        auto output = openOutput(temporary.path(), **input, timescale, known);
        if (!output) return Error{output.error()};
        if (auto copied = copyPackets(**input, **output, *packet, frameDuration); !copied) {
            return copied;
        }
        if (int rc = av_write_trailer(output->get()); rc < 0) {
            return errorAt(temporary.path(), avErrorText(rc));
        }
        if (int rc = avio_closep(&(*output)->pb); rc < 0) {
            return errorAt(temporary.path(), avErrorText(rc));
        }
    }
    if (auto synced = syncFile(temporary.path()); !synced) return synced;
    if (!temporary.renameTo(path)) {
        return errorAt(path, "cannot replace it with the rewritten movie");
    }
    return {};
}

}  // namespace lumivane
