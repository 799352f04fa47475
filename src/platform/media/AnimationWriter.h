// Writes a GIF or an animated WebP. Neither can be written in fragments, and
// a GIF's palette needs every frame before the first can be written: frames
// are kept aside while rendering in a lossless movie beside the output
// (keptFramesPath(): FFV1 in Matroska, cut into one-second clusters, so memory
// stays bounded however long the render), and the picture is built from them
// at the finish, which a stop request reaches too. A GIF's colours are
// gathered for its palette as the frames come, so the finish reads the kept
// frames once; frames it cannot gather (another size, floating point) leave
// the palette to a first pass over the kept frames. The kept frames are removed
// once the picture is in place; a process killed before leaves them, playable
// up to the last cluster written.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/Image.h"
#include "base/Result.h"
#include "platform/media/FFmpegHandles.h"
#include "platform/media/MovieChunk.h"
#include "platform/media/MovieContainer.h"
#include "platform/media/MovieDecoder.h"
#include "platform/media/PaletteFilter.h"

namespace lumivane {

class MovieFrameSource;
class MovieWriter;

class AnimationWriter {
public:
    // `path` names a GIF or WebP file (containerForPath()). Refused as
    // MovieWriter::create() refuses, and for frame rates or sizes the format
    // cannot hold.
    static Result<std::unique_ptr<AnimationWriter>> create(
        const std::string& path, const std::string& fourcc, int quality, double framerate,
        int width, int height, std::optional<MovieChunk> chunk = std::nullopt);
    static Result<void> check(const std::string& path, const std::string& fourcc, int quality,
                              double framerate, int width, int height,
                              std::optional<MovieChunk> chunk = std::nullopt);
    // Why a GIF at `path` cannot play at `framerate`; nothing for other
    // names and rates.
    static std::optional<std::string> rateRefusal(const std::string& path, double framerate);
    static std::string keptFramesPath(const std::string& path);

    AnimationWriter(const AnimationWriter&) = delete;
    AnimationWriter& operator=(const AnimationWriter&) = delete;
    ~AnimationWriter();

    // Frames of another size are scaled to the picture's size.
    Result<void> addFrame(const FrameImage& frame);
    // Closes the kept frames: no frame is taken after it, and every frame
    // added is on disk. Later calls return the first call's outcome.
    Result<void> finishFrames();
    // finishFrames() unless done, then builds the picture from the kept
    // frames, replacing the file at the path only once it is complete. Later
    // calls return the first call's outcome.
    Result<void> build();

    int framesWritten() const;

private:
    AnimationWriter(std::string path, int quality, std::unique_ptr<MovieWriter> frames);
    Result<void> writeAnimation(const std::string& built);
    Result<void> makePalette(MovieFrameSource& frames);
    void gatherColours(const FrameImage& frame);
    // The palette of the colours gathered from every frame; false when they
    // could not be gathered, and the kept frames must be read for it.
    bool takeGatheredPalette();
    // m_frame holding the RGBA pixels of a frame of the picture's size.
    Result<AVFrame*> filled(const uint8_t* rgba, bool bottomFirst);
    Result<void> openEncoder();
    Result<void> openMuxer(const std::string& built);
    // The kept frame `index` as the encoder and the palette filters take it.
    Result<AVFrame*> keptFrame(MovieFrameSource& frames, int index);
    Result<void> encode(const AVFrame* frame);
    Result<void> encodeAll(MovieFrameSource& frames);
    Error failure(const std::string& what) const;
    bool isGif() const;

    std::string m_path;
    MovieContainer m_container;
    int m_quality;
    int m_width = 0;
    int m_height = 0;
    int m_timescale = 0;  // the kept frames': each lasts 600 in it
    std::unique_ptr<MovieWriter> m_frames;
    std::optional<PaletteFilter> m_gathered;  // GIF: palettegen fed as frames come
    AVFrameUPtr m_palette;
    AVFrameUPtr m_frame;     // the frame keptFrame() fills
    MovieFrame m_keptFrame;  // the kept frame last read
    AVCodecContextUPtr m_encoder;
    AVOutputFormatContextUPtr m_muxer;
    AVStream* m_stream = nullptr;  // owned by m_muxer
    AVPacketUPtr m_packet;
    std::optional<Result<void>> m_built;
};

}  // namespace lumivane
