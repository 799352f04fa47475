#include "platform/media/Jpeg2000Encoder.h"

#include <algorithm>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "platform/media/FFmpegHandles.h"

namespace lumivane {
namespace {

constexpr int kDefaultLevels = 6;

Result<AVCodecContextUPtr> openEncoder(int width, int height) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libopenjpeg");
    if (!codec) return Error{"FFmpeg has no OpenJPEG encoder"};
    AVCodecContextUPtr context(avcodec_alloc_context3(codec));
    if (!context) return Error{"out of memory"};
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_RGB24;
    context->time_base = AVRational{1, 1};
    AVOptions options;
    options.set("format", "jp2");
    options.set("numresolution", std::to_string(jpeg2000ResolutionLevels(width, height)));
    if (int rc = avcodec_open2(context.get(), codec, options.get()); rc < 0) {
        return Error{"cannot open the JPEG-2000 encoder (" + avErrorText(rc) + ")"};
    }
    return context;
}

Result<AVFrameUPtr> rgbFrame(const std::vector<uint8_t>& rgb, int width, int height) {
    AVFrameUPtr frame(av_frame_alloc());
    if (!frame) return Error{"out of memory"};
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_RGB24;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return Error{"out of memory"};
    const size_t rowBytes = size_t(width) * 3;
    for (int y = 0; y < height; ++y) {
        std::memcpy(frame->data[0] + size_t(y) * frame->linesize[0], rgb.data() + y * rowBytes,
                    rowBytes);
    }
    return frame;
}

}  // namespace

int jpeg2000ResolutionLevels(int width, int height) {
    const int side = std::min(width, height);
    int levels = 1;
    while (levels < kDefaultLevels && (1 << levels) <= side) ++levels;
    return levels;
}

Result<std::vector<uint8_t>> encodeJpeg2000(const std::vector<uint8_t>& rgb, int width,
                                            int height) {
    if (width <= 0 || height <= 0 || rgb.size() != size_t(width) * size_t(height) * 3) {
        return Error{"frame has no pixels or a wrong pixel count"};
    }
    auto context = openEncoder(width, height);
    if (!context) return Error{context.error()};
    auto frame = rgbFrame(rgb, width, height);
    if (!frame) return Error{frame.error()};
    AVPacketUPtr packet(av_packet_alloc());
    if (!packet) return Error{"out of memory"};
    int rc = avcodec_send_frame(context->get(), frame->get());
    if (rc >= 0) rc = avcodec_send_frame(context->get(), nullptr);
    if (rc >= 0) rc = avcodec_receive_packet(context->get(), packet.get());
    if (rc < 0) return Error{"JPEG-2000 encoding failed (" + avErrorText(rc) + ")"};
    return std::vector<uint8_t>(packet->data, packet->data + packet->size);
}

}  // namespace lumivane
