// The values every step of a render derives from its settings, and the
// composition times of every render it makes. A run that writes only some
// frames of a render takes its times and its engine history from here, so
// its frames are the whole render's.
#pragma once

#include <optional>
#include <string>

#include "shared/RenderSettings.h"

namespace lumivane {

// The most frames one render may have, and the most renders its pre-roll may
// make: a day of 60 fps video is 5.2 million frames; far more is a slip of a
// setting that would keep a machine busy for days.
inline constexpr long long kMaxRenderFrames = 10'000'000;

// framerate x duration truncated toward zero, in 64 bits (saturated far
// beyond kMaxRenderFrames); what cannot be a count of frames (negative, not a
// number) renders nothing.
long long frameCountFor(double framerate, double duration);

// "Too many frames: ...", or nothing when the render is within kMaxRenderFrames.
std::optional<std::string> frameCountProblem(double framerate, double duration);

// "The time scale is not a finite number", or nothing when the frame rate,
// duration, start time and time scale all are.
std::optional<std::string> timingProblem(const RenderSettings& settings);

// "Frames 5-900 are outside the render's 300 frames", or nothing when the
// range lies within a render of `frameCount` frames.
std::optional<std::string> frameRangeProblem(const FrameRange& range, int frameCount);

struct RenderPlan {
    int width = 0;  // output size
    int height = 0;
    double timeScale = 1;
    double startTime = 0;
    int motionBlur = 0;
    int extraSubframes = 0;       // E
    double downscale = 1;         // D
    double frameDuration = 1;     // F
    double subframeDuration = 0;  // S
    int frameCount = 0;           // N, of the whole render
    bool floatFrames = false;
    bool ranged = false;  // a frame range was asked for
    int firstFrame = 0;   // indices from 0 of the frames this run writes
    int endFrame = 0;     // one past the last

    static RenderPlan forSettings(const RenderSettings& settings);

    bool usesDirectLoop() const { return downscale == 1.0 && extraSubframes == 0; }
    int framesWritten() const { return endFrame - firstFrame; }

    double frameTime(int index) const;
    // Motion-blur sample 1..E of the frame at `frameTime`; sample 0 is the frame's own render.
    double subframeTime(double frameTime, int sample) const;
    // The k-th render (from 0) of the pre-roll up to the start time.
    double preRollTime(long long k) const;
    // How many renders that pre-roll makes.
    long long preRollRenders() const;
    // "Too many pre-roll renders: ...", or nothing when the pre-roll makes at
    // most kMaxRenderFrames renders.
    std::optional<std::string> preRollProblem() const;

    // What the engine has counted when the whole render is about to render
    // frame `index`: its renders so far and the time of the last one.
    struct History {
        long long renders = 0;
        double lastTime = 0;
    };
    History historyBefore(int index) const;
};

}  // namespace lumivane
