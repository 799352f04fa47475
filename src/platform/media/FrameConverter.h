// Turns frames from the renderer (straight-alpha RGBA, sRGB-encoded) into the
// encoder's pixel format at the movie's size, with BT.709 YUV where the format
// is YUV, and black under transparency where the format has no alpha.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/Image.h"
#include "base/Result.h"
#include "platform/media/EncoderSettings.h"
#include "platform/media/FFmpegHandles.h"

namespace lumivane {

class FrameConverter {
public:
    FrameConverter(int width, int height, const EncoderSettings& settings);

    // The converted frame; it stays valid until the next call. Planes made
    // on the GPU (ImageYuv) are copied as they are; they must be in
    // yuvLayout()'s layout at the movie's size.
    Result<AVFrame*> convert(const FrameImage& image);

    // The layout in which the GPU may hand frames over instead of RGBA: the
    // planar YUV formats without alpha; none for RGB, alpha and packed formats.
    static std::optional<YuvLayout> yuvLayout(const EncoderSettings& settings);

    // Colour tags every frame and the stream carry.
    static void tagColour(AVCodecContext& context, const EncoderSettings& settings);
    static void tagColour(AVFrame& frame, const EncoderSettings& settings);

private:
    struct Source {
        const uint8_t* data;
        int width;
        int height;
        int stride;
        AVPixelFormat format;
    };
    Source prepare(const ImageRGBA8& image);
    Source prepare(const ImageRGBAF& image);
    Result<void> updateScaler(const Source& source);
    Result<void> writableFrame();
    Result<void> scale(const Source& source);
    Result<void> copyPlanes(const ImageYuv& frame);

    int m_width;
    int m_height;
    EncoderSettings m_settings;
    SwsContextUPtr m_sws;
    int m_sourceWidth = 0;
    int m_sourceHeight = 0;
    AVPixelFormat m_sourceFormat = AV_PIX_FMT_NONE;
    AVFrameUPtr m_frame;
    std::vector<uint8_t> m_scratch8;
    std::vector<uint16_t> m_scratch16;
};

}  // namespace lumivane
