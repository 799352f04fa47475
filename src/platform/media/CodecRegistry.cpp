#include "platform/media/CodecRegistry.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <string>
#include <string_view>

#include "platform/media/FFmpegHandles.h"
#include "platform/media/MovieContainer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace lumivane {
namespace {

// The encoder a user means by a format when FFmpeg has several.
const std::map<AVCodecID, std::string>& preferredEncoders() {
    static const std::map<AVCodecID, std::string> preferred = {
        {AV_CODEC_ID_H264, "libx264"},     {AV_CODEC_ID_HEVC, "libx265"},
        {AV_CODEC_ID_PRORES, "prores_ks"}, {AV_CODEC_ID_MPEG4, "mpeg4"},
        {AV_CODEC_ID_MJPEG, "mjpeg"},      {AV_CODEC_ID_AV1, "libsvtav1"},
        {AV_CODEC_ID_VP9, "libvpx-vp9"},
    };
    return preferred;
}

// prores_ks writes each profile under its own code; the code picks the profile.
struct ProResProfile {
    const char* fourcc;
    const char* name;
};
constexpr std::array<ProResProfile, 6> kProResProfiles = {{
    {"apco", "422 Proxy"},
    {"apcs", "422 LT"},
    {"apcn", "422"},
    {"apch", "422 HQ"},
    {"ap4h", "4444"},
    {"ap4x", "4444 XQ"},
}};

std::string fourccText(unsigned tag) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) text[i] = static_cast<char>((tag >> (8 * i)) & 0xFF);
    return text;
}

bool isHardwareEncoder(const AVCodec* codec) {
    if (codec->capabilities & AV_CODEC_CAP_HARDWARE) return true;
    if (avcodec_get_hw_config(codec, 0)) return true;
    static const std::array<const char*, 9> hardwareSuffixes = {
        "_vaapi", "_qsv", "_nvenc", "_v4l2m2m", "_omx", "_amf", "_mf", "_videotoolbox", "_vulkan"};
    const std::string name = codec->name;
    return std::any_of(hardwareSuffixes.begin(), hardwareSuffixes.end(),
                       [&](const char* suffix) { return name.find(suffix) != std::string::npos; });
}

// Frames reach the encoder through swscale, so it must produce one of its formats.
bool swscaleCanFeed(const AVCodec* codec) {
    if (!codec->pix_fmts) return true;
    for (const AVPixelFormat* format = codec->pix_fmts; *format != AV_PIX_FMT_NONE; ++format) {
        if (sws_isSupportedOutput(*format)) return true;
    }
    return false;
}

bool usableEncoder(const AVCodec* codec) {
    return av_codec_is_encoder(codec) && codec->type == AVMEDIA_TYPE_VIDEO &&
           !(codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && !isHardwareEncoder(codec) &&
           swscaleCanFeed(codec);
}

// The code the muxer writes for a format (HEVC as hvc1, which every player
// takes). Formats QuickTime has no code for get the AVI code, as the muxer
// falls back to it and FFmpeg's reader maps it back (FFV1, Ut Video, HuffYUV).
std::string movFourCC(const AVOutputFormat* mov, AVCodecID id) {
    if (id == AV_CODEC_ID_HEVC) return "hvc1";
    unsigned tag = 0;
    if (av_codec_get_tag2(mov->codec_tag, id, &tag) && tag != 0) return fourccText(tag);
    const AVCodecTag* const riff[] = {avformat_get_riff_video_tags(), nullptr};
    if (av_codec_get_tag2(riff, id, &tag) && tag != 0) return fourccText(tag);
    return {};
}

// What FFmpeg's reader makes of a code: QuickTime's meaning first, then AVI's.
AVCodecID readBackCodec(const AVOutputFormat* mov, const std::string& fourcc) {
    const unsigned tag = MKTAG(fourcc[0], fourcc[1], fourcc[2], fourcc[3]);
    const AVCodecID quickTime = av_codec_get_id(mov->codec_tag, tag);
    if (quickTime != AV_CODEC_ID_NONE) return quickTime;
    const AVCodecTag* const riff[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_id(riff, tag);
}

bool isQuickTimeFamily(const AVOutputFormat* format) {
    const std::string name = format->name;
    return name == "mov" || name == "mp4";
}

// QuickTime's muxer takes the AVI code for formats it has none for; the others
// say what they take.
bool muxerTakes(const AVOutputFormat* format, const AVOutputFormat* mov, AVCodecID id) {
    if (avformat_query_codec(format, id, FF_COMPLIANCE_NORMAL) == 1) return true;
    return format == mov && !movFourCC(mov, id).empty();
}

// The muxers' tables list some formats that they then refuse (QuickTime's
// lists VP9, for one); starting a movie in memory is the only reliable test.
bool muxerStarts(const AVOutputFormat* format, const AVCodec* codec, const std::string& fourcc) {
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, format, nullptr, nullptr) < 0) return false;
    AVOutputFormatContextUPtr context(raw);
    AVStream* stream = avformat_new_stream(context.get(), nullptr);
    if (!stream) return false;
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    stream->codecpar->codec_id = codec->id;
    stream->codecpar->codec_tag = movieStreamTag(format, codec->id, 0, fourcc);
    // A size every format takes, DV's NTSC frame among them.
    stream->codecpar->width = 720;
    stream->codecpar->height = 480;
    stream->codecpar->format = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_ARGB;
    stream->time_base = AVRational{1, 18000};
    AVIOContext* rawBuffer = nullptr;
    if (avio_open_dyn_buf(&rawBuffer) < 0) return false;
    AVIODynamicBufferUPtr buffer(rawBuffer);
    context->pb = buffer.get();
    AVOptions options;
    if (isQuickTimeFamily(format)) options.set("movflags", "empty_moov+frag_keyframe");
    const int rc = avformat_init_output(context.get(), options.get());
    // The buffer goes before the context, which must not close it as a file.
    context->pb = nullptr;
    return rc >= 0;
}

// The chosen encoder per format: the preferred one, else the first software one.
std::map<AVCodecID, const AVCodec*> chooseEncoders() {
    std::map<AVCodecID, const AVCodec*> chosen;
    void* state = nullptr;
    while (const AVCodec* codec = av_codec_iterate(&state)) {
        if (!usableEncoder(codec)) continue;
        auto preferred = preferredEncoders().find(codec->id);
        const bool isPreferred =
            preferred != preferredEncoders().end() && preferred->second == codec->name;
        if (!chosen.count(codec->id) || isPreferred) chosen[codec->id] = codec;
    }
    return chosen;
}

// The muxer logs why it refuses a format; while probing that is no news.
class QuietLog {
public:
    QuietLog() : m_level(av_log_get_level()) { av_log_set_level(AV_LOG_QUIET); }
    ~QuietLog() { av_log_set_level(m_level); }
    QuietLog(const QuietLog&) = delete;
    QuietLog& operator=(const QuietLog&) = delete;

private:
    int m_level;
};

// The muxers of every container, QuickTime's first.
std::vector<const AVOutputFormat*> containerMuxers() {
    std::vector<const AVOutputFormat*> muxers;
    for (const MovieContainer& container : movieContainers()) {
        if (container.animation) continue;
        if (const AVOutputFormat* format = av_guess_format(container.muxer, nullptr, nullptr))
            muxers.push_back(format);
    }
    return muxers;
}

std::vector<std::string> containersTaking(const std::vector<const AVOutputFormat*>& muxers,
                                          const AVCodec* codec, const std::string& fourcc) {
    std::vector<std::string> taking;
    const AVOutputFormat* mov = muxers.front();
    for (const AVOutputFormat* format : muxers) {
        // In QuickTime the code is what the reader goes by: one read back as
        // another format would make an unreadable movie.
        if (format == mov && codec->id != AV_CODEC_ID_PRORES &&
            readBackCodec(mov, fourcc) != codec->id)
            continue;
        if (muxerTakes(format, mov, codec->id) && muxerStarts(format, codec, fourcc))
            taking.push_back(format->name);
    }
    return taking;
}

// Animated pictures hold their own codec alone: GIF's is a QuickTime codec as
// well, WebP's is known here only as an animation (one encoder writes the
// whole animation at its end).
void addAnimations(std::vector<CodecInfo>& codecs) {
    for (const MovieContainer& container : movieContainers()) {
        if (!container.animation || !av_guess_format(container.muxer, nullptr, nullptr)) continue;
        auto known = std::find_if(codecs.begin(), codecs.end(), [&](const CodecInfo& info) {
            return info.fourcc == container.animation;
        });
        if (known != codecs.end()) {
            known->containers.push_back(container.muxer);
        } else if (std::string(container.muxer) == "webp" &&
                   avcodec_find_encoder_by_name("libwebp_anim")) {
            codecs.push_back(
                {container.animation, "WebP animation (libwebp)", "libwebp_anim", {"webp"}});
        }
    }
}

std::vector<CodecInfo> scanCodecs() {
    QuietLog quiet;
    std::vector<CodecInfo> codecs;
    const std::vector<const AVOutputFormat*> muxers = containerMuxers();
    if (muxers.empty() || std::string(muxers.front()->name) != "mov") return codecs;
    const AVOutputFormat* mov = muxers.front();
    for (const auto& [id, codec] : chooseEncoders()) {
        const std::string longName = codec->long_name ? codec->long_name : codec->name;
        if (id == AV_CODEC_ID_PRORES && std::string(codec->name) == "prores_ks") {
            for (const ProResProfile& profile : kProResProfiles) {
                auto containers = containersTaking(muxers, codec, profile.fourcc);
                if (containers.empty()) continue;
                codecs.push_back({profile.fourcc, longName + ", " + profile.name, codec->name,
                                  std::move(containers)});
            }
            continue;
        }
        // Users name every codec by the code QuickTime (or AVI) gives it.
        const std::string fourcc = movFourCC(mov, id);
        if (fourcc.empty()) continue;
        auto containers = containersTaking(muxers, codec, fourcc);
        if (containers.empty()) continue;
        const bool taken = std::any_of(codecs.begin(), codecs.end(), [&](const CodecInfo& info) {
            return info.fourcc == fourcc;
        });
        if (!taken) codecs.push_back({fourcc, longName, codec->name, std::move(containers)});
    }
    addAnimations(codecs);
    std::sort(codecs.begin(), codecs.end(),
              [](const CodecInfo& a, const CodecInfo& b) { return a.fourcc < b.fourcc; });
    return codecs;
}

}  // namespace

const std::vector<CodecInfo>& installedCodecs() {
    static const std::vector<CodecInfo> codecs = scanCodecs();
    return codecs;
}

std::optional<CodecInfo> codecForFourCC(const std::string& fourcc) {
    for (const CodecInfo& info : installedCodecs()) {
        if (info.fourcc == fourcc) return info;
    }
    return std::nullopt;
}

std::vector<CodecInfo> offeredCodecs(const std::string& muxer) {
    // QuickTime's codes; the registry writes some of them in other case
    // (FFmpeg's QuickTime tag for H.261 is "H261"), so case does not count.
    static constexpr std::array<std::string_view, 8> kLeftOut = {"yuv2", "tga ", "smc ", "h261",
                                                                 "h263", "SVQ1", "SVQ3", "WRLE"};
    const auto sameCode = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) ==
                          std::tolower(static_cast<unsigned char>(y));
               });
    };
    std::vector<CodecInfo> offered;
    for (const CodecInfo& codec : installedCodecs()) {
        const bool leftOut =
            std::any_of(kLeftOut.begin(), kLeftOut.end(),
                        [&](std::string_view code) { return sameCode(code, codec.fourcc); });
        const bool inMovies = std::any_of(
            codec.containers.begin(), codec.containers.end(),
            [](const std::string& each) { return !containerForMuxer(each)->animation; });
        if (!leftOut && (muxer.empty() ? inMovies : codec.takes(muxer))) offered.push_back(codec);
    }
    return offered;
}

unsigned movieStreamTag(const AVOutputFormat* format, AVCodecID id, unsigned encoderTag,
                        const std::string& fourcc) {
    if (id == AV_CODEC_ID_RAWVIDEO) return 0;  // the muxer picks it from the pixel format
    const unsigned tag = MKTAG(fourcc[0], fourcc[1], fourcc[2], fourcc[3]);
    if (!isQuickTimeFamily(format)) {
        // Matroska names formats by its own codec IDs; ProRes alone keeps the
        // code, which says the profile.
        return id == AV_CODEC_ID_PRORES ? tag : 0;
    }
    unsigned quickTimeTag = 0;
    const bool quickTimeCode = av_codec_get_tag2(format->codec_tag, id, &quickTimeTag);
    if (!quickTimeCode && encoderTag != 0) return encoderTag;
    return tag;
}

int qualityLevel(int quality) {
    return quality >= 0 && quality <= 5 ? quality : 2;
}

}  // namespace lumivane
