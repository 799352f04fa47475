#include "platform/media/PaletteFilter.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/pixdesc.h>
}

namespace lumivane {
namespace {

// The frame clock is the GIF's own, hundredths of a second.
std::string source(const char* name, int width, int height, AVPixelFormat format) {
    return std::string("buffer@") + name + "=video_size=" + std::to_string(width) + "x" +
           std::to_string(height) + ":pix_fmt=" + av_get_pix_fmt_name(format) +
           ":time_base=1/100:pixel_aspect=1/1";
}

}  // namespace

Result<PaletteFilter> PaletteFilter::parse(const std::string& description) {
    PaletteFilter filter;
    filter.m_graph.reset(avfilter_graph_alloc());
    if (!filter.m_graph) return Error{"out of memory"};
    // One thread: the filters take whole frames in turn (more threads were no
    // faster on two cores).
    filter.m_graph->nb_threads = 1;
    AVFilterInOut* inputs = nullptr;
    AVFilterInOut* outputs = nullptr;
    int rc = avfilter_graph_parse2(filter.m_graph.get(), description.c_str(), &inputs, &outputs);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (rc >= 0) rc = avfilter_graph_config(filter.m_graph.get(), nullptr);
    if (rc < 0) return Error{"cannot build the palette filters (" + avErrorText(rc) + ")"};
    filter.m_frames = avfilter_graph_get_filter(filter.m_graph.get(), "buffer@frames");
    filter.m_sink = avfilter_graph_get_filter(filter.m_graph.get(), "buffersink@out");
    if (!filter.m_frames || !filter.m_sink) return Error{"the palette filters lack an end"};
    return filter;
}

Result<PaletteFilter> PaletteFilter::palette(int width, int height) {
    // Every pixel of every frame counts, so a still background gets its
    // colours as well as what moves.
    return parse(source("frames", width, height, AV_PIX_FMT_RGB32) +
                 ",palettegen=stats_mode=full,buffersink@out");
}

Result<PaletteFilter> PaletteFilter::dither(int width, int height, const AVFrame& palette,
                                            const std::string& dither) {
    const std::string description =
        source("frames", width, height, AV_PIX_FMT_RGB32) + "[f];" +
        source("palette", palette.width, palette.height, AVPixelFormat(palette.format)) +
        "[p];[f][p]paletteuse=dither=" + dither + ",buffersink@out";
    auto filter = parse(description);
    if (!filter) return filter;
    AVFilterContext* input = avfilter_graph_get_filter(filter->m_graph.get(), "buffer@palette");
    AVFrameUPtr copy(av_frame_clone(&palette));
    if (!input || !copy) return Error{"out of memory"};
    copy->pts = 0;
    // The one palette serves every frame: paletteuse repeats the last one.
    int rc = av_buffersrc_add_frame(input, copy.get());
    if (rc >= 0) rc = av_buffersrc_add_frame(input, nullptr);
    if (rc < 0) return Error{"cannot hand over the palette (" + avErrorText(rc) + ")"};
    return filter;
}

Result<void> PaletteFilter::push(const AVFrame* frame) {
    // Pushed through at once, so frames never pile up in the graph.
    const int rc = av_buffersrc_add_frame_flags(
        m_frames, const_cast<AVFrame*>(frame), AV_BUFFERSRC_FLAG_KEEP_REF | AV_BUFFERSRC_FLAG_PUSH);
    if (rc < 0) return Error{"the palette filters refused a frame (" + avErrorText(rc) + ")"};
    return {};
}

Result<AVFrameUPtr> PaletteFilter::pull() {
    AVFrameUPtr frame(av_frame_alloc());
    if (!frame) return Error{"out of memory"};
    const int rc = av_buffersink_get_frame(m_sink, frame.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return AVFrameUPtr();
    if (rc < 0) return Error{"the palette filters failed (" + avErrorText(rc) + ")"};
    return frame;
}

}  // namespace lumivane
