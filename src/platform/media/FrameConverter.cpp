#include "platform/media/FrameConverter.h"

#include <algorithm>
#include <cmath>
#include <string>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace lumivane {
namespace {

bool validImage(int width, int height, size_t samples) {
    return width > 0 && height > 0 &&
           samples == static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
}

// c * a / 255, rounded, without a division.
inline uint8_t multiply8(unsigned c, unsigned a) {
    const unsigned x = c * a + 128;
    return static_cast<uint8_t>((x + (x >> 8)) >> 8);
}

inline uint16_t toUnit16(float value) {
    if (!(value > 0.0f)) return 0;  // NaN too
    if (value >= 1.0f) return 65535;
    return static_cast<uint16_t>(value * 65535.0f + 0.5f);
}

// Most rendered frames are opaque; they need no compositing pass.
bool opaque(const ImageRGBA8& image) {
    const uint8_t* pixel = image.pixels.data();
    const uint8_t* end = pixel + image.pixels.size();
    uint8_t all = 255;
    for (; pixel < end; pixel += 4) all &= pixel[3];
    return all == 255;
}

}  // namespace

FrameConverter::FrameConverter(int width, int height, const EncoderSettings& settings)
    : m_width(width), m_height(height), m_settings(settings), m_frame(av_frame_alloc()) {}

namespace {

// The stream and every frame carry the same tags. The transfer is tagged BT.709:
// it is the tag every player and editor reads for SDR video, where the sRGB
// curve's code is ignored by some and misread by others.
template <class Tagged>
void applyColourTags(Tagged& target, const EncoderSettings& settings) {
    target.color_primaries = AVCOL_PRI_BT709;
    target.color_trc = AVCOL_TRC_BT709;
    target.colorspace = settings.matrix;
    target.color_range = settings.rgb || settings.fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
}

}  // namespace

void FrameConverter::tagColour(AVCodecContext& context, const EncoderSettings& settings) {
    applyColourTags(context, settings);
}

void FrameConverter::tagColour(AVFrame& frame, const EncoderSettings& settings) {
    applyColourTags(frame, settings);
}

// 8-bit frames go to swscale as they are when the alpha is kept; otherwise
// composited over black first.
FrameConverter::Source FrameConverter::prepare(const ImageRGBA8& image) {
    const int stride = image.width * 4;
    if (m_settings.keepsAlpha || opaque(image)) {
        return {image.pixels.data(), image.width, image.height, stride, AV_PIX_FMT_RGBA};
    }
    m_scratch8.resize(image.pixels.size());
    const uint8_t* in = image.pixels.data();
    uint8_t* out = m_scratch8.data();
    for (size_t i = 0, n = image.pixels.size(); i < n; i += 4) {
        const unsigned a = in[i + 3];
        out[i] = multiply8(in[i], a);
        out[i + 1] = multiply8(in[i + 1], a);
        out[i + 2] = multiply8(in[i + 2], a);
        out[i + 3] = 255;
    }
    return {m_scratch8.data(), image.width, image.height, stride, AV_PIX_FMT_RGBA};
}

// Float frames are clamped into 16 bits, which keeps the precision that
// 10-bit codecs can use.
FrameConverter::Source FrameConverter::prepare(const ImageRGBAF& image) {
    m_scratch16.resize(image.pixels.size());
    const float* in = image.pixels.data();
    uint16_t* out = m_scratch16.data();
    const bool composite = !m_settings.keepsAlpha;
    for (size_t i = 0, n = image.pixels.size(); i < n; i += 4) {
        const float a = std::clamp(std::isnan(in[i + 3]) ? 0.0f : in[i + 3], 0.0f, 1.0f);
        const float k = composite ? a : 1.0f;
        out[i] = toUnit16(in[i] * k);
        out[i + 1] = toUnit16(in[i + 1] * k);
        out[i + 2] = toUnit16(in[i + 2] * k);
        out[i + 3] = composite ? 65535 : toUnit16(a);
    }
    return {reinterpret_cast<const uint8_t*>(m_scratch16.data()), image.width, image.height,
            image.width * 8, AV_PIX_FMT_RGBA64};
}

Result<void> FrameConverter::updateScaler(const Source& source) {
    const bool sameSource = m_sws && source.width == m_sourceWidth &&
                            source.height == m_sourceHeight && source.format == m_sourceFormat;
    if (sameSource) return {};
    m_sourceWidth = source.width;
    m_sourceHeight = source.height;
    m_sourceFormat = source.format;
    m_sws.reset(sws_getCachedContext(m_sws.release(), source.width, source.height, source.format,
                                     m_width, m_height, m_settings.pixelFormat, SWS_BICUBIC,
                                     nullptr, nullptr, nullptr));
    if (!m_sws) return Error{"cannot convert frames to the codec's pixel format"};
    const int* coefficients =
        sws_getCoefficients(m_settings.matrix == AVCOL_SPC_BT470BG ? SWS_CS_ITU601 : SWS_CS_ITU709);
    const int outputFullRange = m_settings.rgb || m_settings.fullRange ? 1 : 0;
    sws_setColorspaceDetails(m_sws.get(), coefficients, 1, coefficients, outputFullRange, 0,
                             1 << 16, 1 << 16);
    return {};
}

// A frame the encoder no longer holds: reused when free, else a fresh buffer
// (its old contents are overwritten anyway, so nothing is copied).
Result<void> FrameConverter::writableFrame() {
    if (m_frame->data[0] && av_frame_is_writable(m_frame.get())) return {};
    av_frame_unref(m_frame.get());
    m_frame->format = m_settings.pixelFormat;
    m_frame->width = m_width;
    m_frame->height = m_height;
    if (int rc = av_frame_get_buffer(m_frame.get(), 0); rc < 0) return Error{avErrorText(rc)};
    return {};
}

Result<void> FrameConverter::scale(const Source& source) {
    if (auto ready = writableFrame(); !ready) return ready;
    if (source.format == m_settings.pixelFormat && source.width == m_width &&
        source.height == m_height) {
        // Same layout (RGBA into PNG): a copy, no conversion pass.
        av_image_copy_plane(m_frame->data[0], m_frame->linesize[0], source.data, source.stride,
                            source.stride, source.height);
    } else {
        if (auto scaler = updateScaler(source); !scaler) return scaler;
        const uint8_t* planes[1] = {source.data};
        const int strides[1] = {source.stride};
        sws_scale(m_sws.get(), planes, strides, 0, source.height, m_frame->data, m_frame->linesize);
    }
    tagColour(*m_frame, m_settings);
    return {};
}

std::optional<YuvLayout> FrameConverter::yuvLayout(const EncoderSettings& settings) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(settings.pixelFormat);
    if (!d || settings.rgb || settings.keepsAlpha || d->nb_components != 3) return std::nullopt;
    constexpr uint64_t kRefused = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_BE |
                                  AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                                  AV_PIX_FMT_FLAG_FLOAT;
    if (!(d->flags & AV_PIX_FMT_FLAG_PLANAR) || (d->flags & kRefused)) return std::nullopt;
    const int depth = d->comp[0].depth;
    const int step = depth > 8 ? 2 : 1;
    for (int c = 0; c < 3; ++c) {
        const AVComponentDescriptor& comp = d->comp[c];
        if (comp.plane != c || comp.depth != depth || comp.step != step || comp.shift != 0)
            return std::nullopt;
    }
    YuvLayout layout;
    layout.chromaShiftX = d->log2_chroma_w;
    layout.chromaShiftY = d->log2_chroma_h;
    layout.bits = depth;
    layout.fullRange = settings.fullRange;
    if (settings.matrix == AVCOL_SPC_BT470BG) {
        layout.kr = 0.299f;
        layout.kb = 0.114f;
    } else if (settings.matrix != AVCOL_SPC_BT709) {
        return std::nullopt;
    }
    return layout;
}

Result<void> FrameConverter::copyPlanes(const ImageYuv& frame) {
    if (frame.width != m_width || frame.height != m_height ||
        yuvLayout(m_settings) != frame.layout || frame.pixels.size() != frame.byteCount())
        return Error{"frame planes do not fit the encoder's pixel format and size"};
    if (auto ready = writableFrame(); !ready) return ready;
    for (int plane = 0; plane < 3; ++plane) {
        const int rowBytes = frame.planeWidth(plane) * frame.sampleBytes();
        av_image_copy_plane(m_frame->data[plane], m_frame->linesize[plane],
                            frame.pixels.data() + frame.planeOffset(plane), rowBytes, rowBytes,
                            frame.planeHeight(plane));
    }
    tagColour(*m_frame, m_settings);
    return {};
}

Result<AVFrame*> FrameConverter::convert(const FrameImage& image) {
    if (const auto* planes = std::get_if<ImageYuv>(&image)) {
        if (auto copied = copyPlanes(*planes); !copied) return Error{copied.error()};
        return m_frame.get();
    }
    Source source{};
    if (const auto* rgba8 = std::get_if<ImageRGBA8>(&image)) {
        if (!validImage(rgba8->width, rgba8->height, rgba8->pixels.size())) {
            return Error{"frame has no pixels or a wrong pixel count"};
        }
        source = prepare(*rgba8);
    } else {
        const auto& rgbaf = std::get<ImageRGBAF>(image);
        if (!validImage(rgbaf.width, rgbaf.height, rgbaf.pixels.size())) {
            return Error{"frame has no pixels or a wrong pixel count"};
        }
        source = prepare(rgbaf);
    }
    if (auto scaled = scale(source); !scaled) return Error{scaled.error()};
    return m_frame.get();
}

}  // namespace lumivane
