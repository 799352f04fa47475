// Where finished frames go: one movie, or one image file per frame.
#pragma once

#include <memory>
#include <string>

#include "base/Image.h"
#include "base/Result.h"
#include "cli/FrameOutputFailure.h"
#include "shared/RenderSettings.h"

namespace lumivane {

class AnimationWriter;
class ImageSequenceWriter;
class MovieWriter;
class OutputStage;

class FrameOutput {
public:
    ~FrameOutput();

    bool isImageSequence() const { return m_isImageSequence; }

    // Decides the kind from the codec; nothing is opened yet.
    static std::unique_ptr<FrameOutput> forCodec(const std::string& codec);

    // What opening would refuse, found before the pre-roll spends its time:
    // an unknown codec, settings the encoder cannot take, an output path that
    // cannot be written. Nothing is created.
    std::optional<FrameOutputFailure> check(const RenderSettings& settings, int frameCount,
                                            int width, int height) const;
    // What decided the frames (renderFingerprint()), carried by a chunk's
    // movie or written beside a chunk's image files.
    void setOrigin(std::string origin) { m_origin = std::move(origin); }
    // Opens the movie (the current-movie reference follows it) or creates the
    // sequence directory. `width` x `height` is the size of the frames to come;
    // `frameCount` is the whole render's, of which the settings' frame range
    // may ask for some frames only: a movie of those carries which they are.
    std::optional<FrameOutputFailure> open(const RenderSettings& settings, int frameCount,
                                           int width, int height);
    // The layout in which the movie takes frames converted on the GPU; none
    // for images, RGB and alpha codecs. Known once open.
    std::optional<YuvLayout> yuvLayout() const;
    // Hands the frame to the writing threads; a failure of an earlier frame
    // comes back from a later call, or from finish().
    std::optional<FrameOutputFailure> addFrame(int index, FrameImage frame);
    // Waits for every frame handed over, then finishes the movie.
    std::optional<FrameOutputFailure> finish();
    // The termination path's flush: every frame handed over is written, the
    // count the stop line reports is set, and the movie is finished.
    void finishForStop();

private:
    std::optional<FrameOutputFailure> openMovie(const RenderSettings& settings, int frameCount,
                                                int width, int height);
    std::optional<FrameOutputFailure> openAnimation(const RenderSettings& settings, int frameCount,
                                                    int width, int height);
    // Finishes the movie or builds the picture; what failed, if anything.
    Result<void> finishWriter();

    bool m_isImageSequence = false;
    std::string m_codec;
    std::string m_origin;
    std::shared_ptr<MovieWriter> m_movie;
    std::shared_ptr<AnimationWriter> m_animation;  // GIF, WebP
    std::shared_ptr<ImageSequenceWriter> m_sequence;
    // Last, so it is gone before the writers it feeds.
    std::unique_ptr<OutputStage> m_stage;
};

}  // namespace lumivane
