#include "platform/media/MovieVerifier.h"

#include "platform/media/FFmpegHandles.h"
#include "platform/media/MovieRewriter.h"

namespace lumivane {
namespace {

Result<AVCodecContextUPtr> openDecoder(const std::string& path, const AVStream& stream) {
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    if (!codec) return errorAt(path, "no decoder for its codec");
    AVCodecContextUPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder) return errorAt(path, "out of memory");
    if (int rc = avcodec_parameters_to_context(decoder.get(), stream.codecpar); rc < 0) {
        return errorAt(path, avErrorText(rc));
    }
    // A damaged frame is an error here, not something to conceal.
    decoder->err_recognition = AV_EF_EXPLODE | AV_EF_CRCCHECK | AV_EF_BITSTREAM;
    decoder->thread_count = 0;
    if (int rc = avcodec_open2(decoder.get(), codec, nullptr); rc < 0) {
        return errorAt(path, avErrorText(rc));
    }
    return decoder;
}

struct Count {
    int64_t sent = 0;
    int64_t decoded = 0;
};

Result<void> receiveAll(const std::string& path, AVCodecContext& decoder, AVFrame& frame,
                        Count& count) {
    while (true) {
        const int rc = avcodec_receive_frame(&decoder, &frame);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return {};
        if (rc < 0 || (frame.flags & AV_FRAME_FLAG_CORRUPT) || frame.decode_error_flags) {
            return errorAt(path, "frame " + std::to_string(count.decoded + 1) + " does not decode" +
                                     (rc < 0 ? " (" + avErrorText(rc) + ")" : std::string()));
        }
        ++count.decoded;
        av_frame_unref(&frame);
    }
}

}  // namespace

Result<void> MovieVerifier::decodeAll(const std::string& path, int64_t frames) {
    auto input = MovieRewriter::openInput(path, false);
    if (!input) return Error{input.error()};
    // A soundtrack beside the frames is the join's to check, sample by sample.
    if ((*input)->nb_streams < 1 ||
        (*input)->streams[0]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return errorAt(path, "is no movie of one video track");
    auto decoder = openDecoder(path, *(*input)->streams[0]);
    if (!decoder) return Error{decoder.error()};
    AVPacketUPtr packet(av_packet_alloc());
    AVFrameUPtr frame(av_frame_alloc());
    if (!packet || !frame) return errorAt(path, "out of memory");
    Count count;
    int rc = 0;
    while ((rc = av_read_frame(input->get(), packet.get())) >= 0) {
        if (packet->stream_index != 0) {
            av_packet_unref(packet.get());
            continue;
        }
        const int sent = avcodec_send_packet(decoder->get(), packet.get());
        av_packet_unref(packet.get());
        if (sent < 0) {
            return errorAt(path, "frame " + std::to_string(count.sent + 1) + " does not decode (" +
                                     avErrorText(sent) + ")");
        }
        ++count.sent;
        if (auto received = receiveAll(path, **decoder, *frame, count); !received) return received;
    }
    if (rc != AVERROR_EOF) return errorAt(path, avErrorText(rc));
    avcodec_send_packet(decoder->get(), nullptr);
    if (auto received = receiveAll(path, **decoder, *frame, count); !received) return received;
    if (count.decoded != frames) {
        return errorAt(path, "decodes to " + std::to_string(count.decoded) + " frames, not " +
                                 std::to_string(frames));
    }
    return {};
}

}  // namespace lumivane
