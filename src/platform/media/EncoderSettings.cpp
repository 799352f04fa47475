#include "platform/media/EncoderSettings.h"

#include <algorithm>
#include <sstream>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/dv_profile.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "platform/media/CodecRegistry.h"

namespace lumivane {
namespace {

// The quality table: what each level 0-5 (minimum, low, normal, high, maximum,
// lossless) means for each encoder family. Entries are "key=value" pairs joined
// by ':'; "qscale" and "compression_level" go to the codec context, "encoder"
// swaps the encoder, everything else is the encoder's own option.
struct QualityRow {
    const char* encoder;
    AVPixelFormat pixelFormat;  // NONE: the encoder's best match for RGBA
    const char* levels[6];
};

const QualityRow kQualityTable[] = {
    // H.264: each step of about 5 CRF halves or doubles the bit rate; 23 is
    // x264's own default (normal), 14 is visually lossless. 4:2:0 so every player
    // takes it. Lossless: x264's RGB variant at qp 0, so the decoded frames are
    // the source frames (no YUV rounding).
    {"libx264",
     AV_PIX_FMT_YUV420P,
     {"crf=34", "crf=28", "crf=23", "crf=18", "crf=14", "encoder=libx264rgb:qp=0"}},
    // Reached only through libx264's lossless level, which set its options.
    {"libx264rgb", AV_PIX_FMT_RGB24, {"", "", "", "", "", ""}},
    // HEVC: x265's CRF scale sits about 5 above x264's for the same look; 28 is
    // its default.
    {"libx265",
     AV_PIX_FMT_YUV420P,
     {"crf=38", "crf=33", "crf=28", "crf=23", "crf=18", "x265-params=lossless=1"}},
    // The web codecs: constant quality (CRF, 0-63, no bit-rate cap), stepped
    // as x264's levels are, each level about the look of the x264 one.
    // libvpx threads by tile rows only when asked.
    {"libvpx-vp9",
     AV_PIX_FMT_YUV420P,
     {"crf=48:b=0:row-mt=1", "crf=40:b=0:row-mt=1", "crf=33:b=0:row-mt=1", "crf=27:b=0:row-mt=1",
      "crf=20:b=0:row-mt=1", "lossless=1:row-mt=1"}},
    // SVT-AV1 has no lossless mode; its finest level is CRF 8.
    {"libsvtav1", AV_PIX_FMT_YUV420P, {"crf=50", "crf=42", "crf=35", "crf=29", "crf=22", "crf=8"}},
    {"libaom-av1",
     AV_PIX_FMT_YUV420P,
     {"crf=50:b=0", "crf=42:b=0", "crf=35:b=0", "crf=29:b=0", "crf=22:b=0",
      "aom-params=lossless=1"}},
    // VP8's CRF needs a cap; one no frame reaches leaves the quality in charge.
    {"libvpx",
     AV_PIX_FMT_YUV420P,
     {"crf=50:b=100M", "crf=40:b=100M", "crf=30:b=100M", "crf=20:b=100M", "crf=10:b=100M",
      "crf=4:b=100M"}},
    // MPEG-4 part 2 and Motion JPEG: a constant quantiser, 31 coarsest to 1
    // finest; neither has a lossless mode, so level 5 is the finest quantiser.
    {"mpeg4",
     AV_PIX_FMT_YUV420P,
     {"qscale=20", "qscale=10", "qscale=5", "qscale=3", "qscale=2", "qscale=1"}},
    {"mjpeg",
     AV_PIX_FMT_YUVJ420P,
     {"qscale=20", "qscale=10", "qscale=5", "qscale=3", "qscale=2", "qscale=1"}},
    // ProRes: the profile, picked by the four-character code, sets the bit
    // budget at normal; the other levels fix the quantiser (1 finest) instead.
    {"prores_ks",
     AV_PIX_FMT_YUV422P10LE,
     {"qscale=16", "qscale=8", "", "qscale=3", "qscale=2", "qscale=1"}},
    // DNxHD only takes a few broadcast sizes and bit rates; its DNxHR profiles
    // take any size, so the levels pick among those (8-bit 4:2:2).
    {"dnxhd",
     AV_PIX_FMT_YUV422P,
     {"profile=dnxhr_lb", "profile=dnxhr_lb", "profile=dnxhr_sq", "profile=dnxhr_hq",
      "profile=dnxhr_hq", "profile=dnxhr_hq"}},
    // Lossless codecs decode to the same pixels at every level; the level buys
    // smaller files with more compression effort (zlib 1-9 for PNG).
    {"png",
     AV_PIX_FMT_RGBA,
     {"compression_level=1", "compression_level=3", "compression_level=6", "compression_level=7",
      "compression_level=8", "compression_level=9"}},
    // SpeedHQ's decoder learns the sampling from the code (SHQ0, 4:2:0).
    {"speedhq",
     AV_PIX_FMT_YUV420P,
     {"qscale=20", "qscale=10", "qscale=5", "qscale=3", "qscale=2", "qscale=1"}},
    // Lossless intermediates: the level picks the predictor or entropy coder,
    // each step a smaller file for more work.
    {"ffv1",
     AV_PIX_FMT_NONE,
     {"coder=rice:context=0", "coder=rice:context=1", "", "coder=range_def:context=1",
      "coder=range_tab:context=1", "coder=range_tab:context=1:slicecrc=1"}},
    // Ut Video's decoder learns the layout from the code, so the layout is
    // fixed to the one the code names (ULRA, RGB with alpha).
    {"utvideo",
     AV_PIX_FMT_GBRAP,
     {"pred=none", "pred=left", "", "pred=median", "pred=median", "pred=median"}},
    // HuffYUV's median predictor refuses RGB, which is what it is fed.
    {"huffyuv",
     AV_PIX_FMT_NONE,
     {"pred=left", "pred=left", "", "pred=plane", "pred=plane", "pred=plane"}},
    {"magicyuv",
     AV_PIX_FMT_NONE,
     {"pred=left", "pred=left", "", "pred=gradient", "pred=median", "pred=median"}},
    // Zip Motion Blocks: zlib's effort.
    {"zmbv",
     AV_PIX_FMT_NONE,
     {"compression_level=1", "compression_level=3", "compression_level=6", "compression_level=7",
      "compression_level=8", "compression_level=9"}},
    {"ffvhuff",
     AV_PIX_FMT_NONE,
     {"pred=left", "pred=left", "", "pred=plane", "pred=median", "pred=median:context=1"}},
    {"jpegls",
     AV_PIX_FMT_NONE,
     {"pred=left", "pred=left", "", "pred=plane", "pred=median", "pred=median"}},
    {"ljpeg",
     AV_PIX_FMT_NONE,
     {"pred=left", "pred=left", "", "pred=plane", "pred=median", "pred=median"}},
    // CineForm: its own quality scale, low to film3+.
    {"cfhd",
     AV_PIX_FMT_NONE,
     {"quality=low", "quality=medium", "quality=high", "quality=film1", "quality=film2",
      "quality=film3+"}},
    // Image codecs inside a movie: their compression choice.
    {"tiff",
     AV_PIX_FMT_NONE,
     {"compression_algo=packbits", "compression_algo=packbits", "", "compression_algo=lzw",
      "compression_algo=deflate", "compression_algo=deflate"}},
    {"sgi", AV_PIX_FMT_NONE, {"rle=0", "rle=0", "", "rle=1", "rle=1", "rle=1"}},
    {"targa", AV_PIX_FMT_NONE, {"rle=0", "rle=0", "", "rle=1", "rle=1", "rle=1"}},
    {"exr",
     AV_PIX_FMT_NONE,
     {"compression=none", "compression=rle", "", "compression=zip1", "compression=zip16",
      "compression=zip16"}},
    {"hap",
     AV_PIX_FMT_NONE,
     {"compressor=none", "compressor=none", "", "compressor=snappy", "compressor=snappy",
      "compressor=snappy"}},
    // Animation (RLE) and raw: no knob; 32-bit ARGB keeps the alpha channel.
    {"qtrle", AV_PIX_FMT_ARGB, {"", "", "", "", "", ""}},
    {"rawvideo", AV_PIX_FMT_ARGB, {"", "", "", "", "", ""}},
};

// Any other encoder: FFmpeg's own lossy encoders honour a constant quantiser.
const char* const kDefaultLevels[6] = {"qscale=20", "qscale=10", "qscale=5",
                                       "qscale=3",  "qscale=2",  "qscale=1"};

// Encoders with no quality control at all: uncompressed layouts and codecs
// whose output is fixed by the format. VC-2 (a bit rate) and RPZA (colour
// thresholds) have controls, but none that a level maps onto without the
// frame rate or a picture to tune against. Every level is the same for them.
constexpr const char* kWithoutQuality[] = {"qtrle",   "rawvideo", "v210", "v308", "v408", "v410",
                                           "y41p",    "yuv4",     "ayuv", "r10k", "r210", "avrp",
                                           "avui",    "cljr",     "dpx",  "gif",  "zlib", "dvvideo",
                                           "flashsv", "msvideo1", "amv",  "vc2",  "rpza"};

bool hasNoQualityControl(const std::string& encoder) {
    return std::any_of(std::begin(kWithoutQuality), std::end(kWithoutQuality),
                       [&](const char* name) { return encoder == name; });
}

// Encoders that crash rather than refuse pictures below a size: x265 3.5
// writes past its buffers (34x18), RPZA trips an assertion (2x2).
struct MinimumSize {
    const char* encoder;
    int width;
    int height;
};
// DNxHR's smallest frame is 256x120; SVT-AV1's 64x64.
constexpr MinimumSize kMinimumSizes[] = {
    {"libx265", 32, 32}, {"rpza", 4, 4}, {"dnxhd", 256, 120}, {"libsvtav1", 64, 64}};

// SVT-AV1 is the fast AV1 encoder, but frames below its minimum go to libaom.
void chooseAv1Encoder(EncoderSettings& settings, int width, int height) {
    if (settings.encoder != "libsvtav1" || (width >= 64 && height >= 64)) return;
    if (!avcodec_find_encoder_by_name("libaom-av1")) return;
    settings.encoder = "libaom-av1";
}

Result<void> checkMinimumSize(const std::string& encoder, int width, int height) {
    for (const MinimumSize& minimum : kMinimumSizes) {
        if (encoder == minimum.encoder && (width < minimum.width || height < minimum.height)) {
            return Error{"encoder '" + encoder + "' needs at least " +
                         std::to_string(minimum.width) + "x" + std::to_string(minimum.height) +
                         " pixels"};
        }
    }
    return {};
}

const QualityRow* qualityRow(const std::string& encoder) {
    for (const QualityRow& row : kQualityTable) {
        if (encoder == row.encoder) return &row;
    }
    return nullptr;
}

const char* proResProfile(const std::string& fourcc) {
    if (fourcc == "apco") return "proxy";
    if (fourcc == "apcs") return "lt";
    if (fourcc == "apch") return "hq";
    if (fourcc == "ap4h") return "4444";
    if (fourcc == "ap4x") return "4444xq";
    return "standard";
}

void applyLevel(const char* entry, EncoderSettings& settings) {
    std::istringstream pairs(entry);
    std::string pair;
    while (std::getline(pairs, pair, ':')) {
        const auto equals = pair.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = pair.substr(0, equals);
        const std::string value = pair.substr(equals + 1);
        if (key == "qscale") {
            settings.qscale = std::stoi(value);
        } else if (key == "compression_level") {
            settings.compressionLevel = std::stoi(value);
        } else if (key == "encoder") {
            settings.encoder = value;
        } else {
            settings.options.emplace_back(key, value);
        }
    }
}

bool fitsSize(AVPixelFormat format, int width, int height) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc) return false;
    const int xStep = 1 << desc->log2_chroma_w;
    const int yStep = 1 << desc->log2_chroma_h;
    return width % xStep == 0 && height % yStep == 0;
}

std::vector<AVPixelFormat> encoderFormats(const AVCodec* codec, int width, int height) {
    std::vector<AVPixelFormat> formats;
    if (!codec->pix_fmts) return formats;
    for (const AVPixelFormat* format = codec->pix_fmts; *format != AV_PIX_FMT_NONE; ++format) {
        if (sws_isSupportedOutput(*format) && fitsSize(*format, width, height)) {
            formats.push_back(*format);
        }
    }
    return formats;
}

// Formats of the same kind as `wanted` (YUV or RGB, with or without alpha).
std::vector<AVPixelFormat> sameKind(const std::vector<AVPixelFormat>& formats,
                                    AVPixelFormat wanted) {
    const AVPixFmtDescriptor* want = av_pix_fmt_desc_get(wanted);
    if (!want) return formats;
    const uint64_t kind = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_ALPHA;
    std::vector<AVPixelFormat> kept;
    for (AVPixelFormat format : formats) {
        if ((av_pix_fmt_desc_get(format)->flags & kind) == (want->flags & kind)) {
            kept.push_back(format);
        }
    }
    return kept.empty() ? formats : kept;
}

// The row's format when the encoder takes it at this size, else the encoder's
// closest match for RGBA among the formats of that kind that fit (4:4:4 for
// odd sizes).
AVPixelFormat choosePixelFormat(const AVCodec* codec, AVPixelFormat wanted, int width, int height) {
    if (!codec->pix_fmts) return wanted != AV_PIX_FMT_NONE ? wanted : AV_PIX_FMT_ARGB;
    std::vector<AVPixelFormat> formats = encoderFormats(codec, width, height);
    for (AVPixelFormat format : formats) {
        if (format == wanted) return format;
    }
    if (formats.empty()) return AV_PIX_FMT_NONE;
    formats = sameKind(formats, wanted);
    formats.push_back(AV_PIX_FMT_NONE);
    return avcodec_find_best_pix_fmt_of_list(formats.data(), AV_PIX_FMT_RGBA, 1, nullptr);
}

// DV fixes its sampling by the frame: 4:1:1 for NTSC's 480 lines, 4:2:0 for
// PAL's 576, 4:2:2 (DVCPRO 50 and HD) for the others.
AVPixelFormat dvPixelFormat(int height) {
    if (height == 480) return AV_PIX_FMT_YUV411P;
    if (height == 576) return AV_PIX_FMT_YUV420P;
    return AV_PIX_FMT_YUV422P;
}

// DV and H.261 have no frame of the user's choosing: only their own sizes exist.
Result<void> checkFixedSize(const EncoderSettings& settings, int width, int height) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (settings.encoder == "dvvideo" &&
        !av_dv_codec_profile(width, height, settings.pixelFormat)) {
        return Error{
            "encoder 'dvvideo' takes only DV's frame sizes (720x480, 720x576, 960x720, "
            "1280x1080, 1440x1080), not " +
            size};
    }
    const bool cif = (width == 176 && height == 144) || (width == 352 && height == 288);
    if (settings.encoder == "h261" && !cif) {
        return Error{"encoder 'h261' takes only 176x144 and 352x288 frames, not " + size};
    }
    // AMV refuses other heights only at the first frame.
    if (settings.encoder == "amv" && height % 16 != 0) {
        return Error{"encoder 'amv' takes only heights that are multiples of 16, not " + size};
    }
    return {};
}

// Options that belong to an encoder whatever the level; may change the
// pixel format wanted.
void addEncoderOptions(const CodecInfo& codec, EncoderSettings& settings, AVPixelFormat& wanted) {
    if (settings.encoder == "libx265") {
        // x265 reports to the console itself unless told not to.
        auto params =
            std::find_if(settings.options.begin(), settings.options.end(),
                         [](const auto& option) { return option.first == "x265-params"; });
        if (params == settings.options.end()) {
            settings.options.emplace_back("x265-params", "log-level=error");
        } else {
            params->second += ":log-level=error";
        }
    }
    if (settings.encoder == "prores_ks") {
        settings.options.emplace_back("profile", proResProfile(codec.fourcc));
        if (codec.fourcc == "ap4h" || codec.fourcc == "ap4x") wanted = AV_PIX_FMT_YUVA444P10LE;
    }
}

void describePixelFormat(EncoderSettings& settings) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(settings.pixelFormat);
    settings.keepsAlpha = desc->flags & AV_PIX_FMT_FLAG_ALPHA;
    settings.rgb = desc->flags & AV_PIX_FMT_FLAG_RGB;
    settings.fullRange = settings.pixelFormat == AV_PIX_FMT_YUVJ420P ||
                         settings.pixelFormat == AV_PIX_FMT_YUVJ422P ||
                         settings.pixelFormat == AV_PIX_FMT_YUVJ444P;
    // JPEG decoders apply the JFIF (BT.601) matrix whatever the container says,
    // so Motion JPEG is written with it; everything else is BT.709.
    if (settings.rgb) {
        settings.matrix = AVCOL_SPC_RGB;
    } else if (settings.encoder == "mjpeg") {
        settings.matrix = AVCOL_SPC_BT470BG;
    }
}

}  // namespace

Result<EncoderSettings> encoderSettings(const CodecInfo& codec, int quality, int width,
                                        int height) {
    EncoderSettings settings;
    settings.encoder = codec.encoder;
    chooseAv1Encoder(settings, width, height);
    const int level = qualityLevel(quality);
    const QualityRow* row = qualityRow(settings.encoder);
    if (!hasNoQualityControl(settings.encoder)) {
        applyLevel(row ? row->levels[level] : kDefaultLevels[level], settings);
    }

    const AVCodec* encoder = avcodec_find_encoder_by_name(settings.encoder.c_str());
    if (!encoder) return Error{"encoder '" + settings.encoder + "' is not available"};
    if (auto fits = checkMinimumSize(settings.encoder, width, height); !fits) {
        return Error{fits.error()};
    }
    const QualityRow* finalRow = qualityRow(settings.encoder);
    AVPixelFormat wanted = finalRow ? finalRow->pixelFormat : AV_PIX_FMT_NONE;
    addEncoderOptions(codec, settings, wanted);
    if (settings.encoder == "dvvideo") wanted = dvPixelFormat(height);
    settings.pixelFormat = choosePixelFormat(encoder, wanted, width, height);
    if (settings.pixelFormat == AV_PIX_FMT_NONE) {
        return Error{"encoder '" + settings.encoder + "' cannot take " + std::to_string(width) +
                     "x" + std::to_string(height) + " frames in any of its pixel formats"};
    }
    if (auto fits = checkFixedSize(settings, width, height); !fits) return Error{fits.error()};
    describePixelFormat(settings);
    return settings;
}

}  // namespace lumivane
