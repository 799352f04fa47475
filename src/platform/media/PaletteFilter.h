// GIF's two passes through libavfilter: palettegen reads every frame for the
// 256 colours that serve them best (one kept for transparency), paletteuse
// then maps each frame onto that palette with the chosen dithering. Frames go
// in as RGB32 (palettegen's own); the palette pass yields one frame, the other
// PAL8 frames.
#pragma once

#include <memory>
#include <string>

#include "base/Result.h"
#include "platform/media/FFmpegHandles.h"

extern "C" {
#include <libavfilter/avfilter.h>
}

namespace lumivane {

struct AVFilterGraphDeleter {
    void operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
};
using AVFilterGraphUPtr = std::unique_ptr<AVFilterGraph, AVFilterGraphDeleter>;

class PaletteFilter {
public:
    static Result<PaletteFilter> palette(int width, int height);
    // `dither` as paletteuse takes it, e.g. "bayer:bayer_scale=4".
    static Result<PaletteFilter> dither(int width, int height, const AVFrame& palette,
                                        const std::string& dither);

    // nullptr ends the input.
    Result<void> push(const AVFrame* frame);
    // The next frame out; an empty pointer when the filter wants more input or
    // has ended.
    Result<AVFrameUPtr> pull();

private:
    static Result<PaletteFilter> parse(const std::string& description);
    AVFilterGraphUPtr m_graph;
    AVFilterContext* m_frames = nullptr;  // owned by m_graph
    AVFilterContext* m_sink = nullptr;
};

}  // namespace lumivane
