// Where finished frames go: one movie, or one image file per frame.
#pragma once

#include <memory>
#include <string>

#include "base/Image.h"
#include "base/Result.h"
#include "shared/RenderSettings.h"

namespace lumivane {

class ImageSequenceWriter;
class MovieWriter;

struct FrameOutputFailure {
    std::string consoleLine;  // the renderer's log line
    std::string detail;       // what the writer said, logged beside it
};

class FrameOutput {
public:
    ~FrameOutput();

    bool isImageSequence() const { return m_isImageSequence; }

    // Decides the kind from the codec; nothing is opened yet.
    static std::unique_ptr<FrameOutput> forCodec(const std::string& codec);

    // What opening would refuse, found before the pre-roll spends its time:
    // an unknown codec, settings the encoder cannot take, an output path that
    // cannot be written. Nothing is created.
    std::optional<FrameOutputFailure> check(const RenderSettings& settings, int width,
                                            int height) const;
    // Opens the movie (the current-movie reference follows it) or creates the
    // sequence directory. `width` x `height` is the size of the frames to come.
    std::optional<FrameOutputFailure> open(const RenderSettings& settings, int frameCount,
                                           int width, int height);
    std::optional<FrameOutputFailure> addFrame(int index, const FrameImage& frame);
    // Finishes the movie; an image sequence needs nothing.
    std::optional<FrameOutputFailure> finish();

private:
    bool m_isImageSequence = false;
    std::string m_codec;
    int m_framesHeld = 0;
    std::shared_ptr<MovieWriter> m_movie;
    std::unique_ptr<ImageSequenceWriter> m_sequence;
};

}  // namespace lumivane
