#include "platform/media/StillImageEncoder.h"

#include "platform/media/FFmpegHandles.h"

namespace lumivane {
namespace {

Result<AVCodecContextUPtr> openEncoder(const StillImage& image, const StillEncoder& encoder) {
    const AVCodec* codec = avcodec_find_encoder_by_name(encoder.name);
    if (!codec) return Error{std::string("FFmpeg has no encoder \"") + encoder.name + "\""};
    AVCodecContextUPtr context(avcodec_alloc_context3(codec));
    if (!context) return Error{"out of memory"};
    context->width = image.width;
    context->height = image.height;
    context->pix_fmt = image.format;
    context->time_base = AVRational{1, 1};
    // FFmpeg's PNG encoder writes the aspect as pHYs whatever it is; 0:1 is no aspect at all.
    context->sample_aspect_ratio = AVRational{1, 1};
    // The sequence writer runs one encoder per worker already.
    context->thread_count = 1;
    context->compression_level = encoder.compressionLevel;
    AVOptions options;
    for (const auto& [key, value] : encoder.options) options.set(key.c_str(), value);
    if (int rc = avcodec_open2(context.get(), codec, options.get()); rc < 0) {
        return Error{std::string("cannot open the ") + codec->long_name + " encoder (" +
                     avErrorText(rc) + ")"};
    }
    if (auto unused = options.unused(); !unused.empty()) {
        return Error{std::string("the ") + codec->long_name + " encoder has no option " + unused};
    }
    return context;
}

void noRelease(void*, uint8_t*) {}

// The frame reads the caller's samples in place: encoding ends before this
// returns to the caller, who keeps them alive until then.
Result<AVFrameUPtr> frameOver(const StillImage& image, bool srgb) {
    AVFrameUPtr frame(av_frame_alloc());
    if (!frame) return Error{"out of memory"};
    frame->width = image.width;
    frame->height = image.height;
    frame->format = image.format;
    auto* samples = const_cast<uint8_t*>(image.samples);
    frame->buf[0] = av_buffer_create(samples, size_t(image.lineBytes) * size_t(image.height),
                                     noRelease, nullptr, AV_BUFFER_FLAG_READONLY);
    if (!frame->buf[0]) return Error{"out of memory"};
    frame->data[0] = samples;
    frame->linesize[0] = image.lineBytes;
    if (srgb) {
        frame->color_primaries = AVCOL_PRI_BT709;
        frame->color_trc = AVCOL_TRC_IEC61966_2_1;
    }
    return frame;
}

}  // namespace

Result<std::vector<uint8_t>> encodeStill(const StillImage& image, const StillEncoder& encoder) {
    if (image.width <= 0 || image.height <= 0 || !image.samples) {
        return Error{"frame has no pixels or a wrong pixel count"};
    }
    auto context = openEncoder(image, encoder);
    if (!context) return Error{context.error()};
    auto frame = frameOver(image, encoder.srgb);
    if (!frame) return Error{frame.error()};
    AVPacketUPtr packet(av_packet_alloc());
    if (!packet) return Error{"out of memory"};
    int rc = avcodec_send_frame(context->get(), frame->get());
    if (rc >= 0) rc = avcodec_send_frame(context->get(), nullptr);
    if (rc >= 0) rc = avcodec_receive_packet(context->get(), packet.get());
    if (rc < 0) {
        return Error{std::string((*context)->codec->long_name) + " encoding failed (" +
                     avErrorText(rc) + ")"};
    }
    return std::vector<uint8_t>(packet->data, packet->data + packet->size);
}

}  // namespace lumivane
