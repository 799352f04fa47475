#include "cli/RenderPlan.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <utility>

namespace lumivane {
namespace {

constexpr const char* kOpenEXRType = "com.ilm.openexr-image";

// Beyond this many pre-roll renders the whole render never gets to its
// frames; the count need not be exact there.
constexpr double kCountableRenders = 1e15;
// Frame counts are exact below this, within 64 bits.
constexpr double kCountableFrames = 1e18;

std::string numberText(double value) {
    char text[32];
    snprintf(text, sizeof text, "%g", value);
    return text;
}

// A count that reached its saturation is not exact.
std::string countText(long long count, double saturation) {
    if (count >= static_cast<long long>(saturation)) return "more than " + numberText(saturation);
    return std::to_string(count);
}

int stringIntValue(const std::optional<std::string>& text) {
    return text ? PlistValue(*text).intValue() : 0;
}

}  // namespace

long long frameCountFor(double framerate, double duration) {
    double count = std::trunc(framerate * duration);
    if (!(count > 0)) return 0;
    if (count >= kCountableFrames) return static_cast<long long>(kCountableFrames);
    return static_cast<long long>(count);
}

std::optional<std::string> frameCountProblem(double framerate, double duration) {
    const long long count = frameCountFor(framerate, duration);
    if (count <= kMaxRenderFrames) return std::nullopt;
    return "Too many frames: " + numberText(framerate) + " fps for " + numberText(duration) +
           " s is " + countText(count, kCountableFrames) + " frames, over the " +
           std::to_string(kMaxRenderFrames) + " a render may have";
}

std::optional<std::string> timingProblem(const RenderSettings& settings) {
    const std::pair<const char*, double> values[] = {{"frame rate", settings.framerate()},
                                                     {"duration", settings.duration()},
                                                     {"start time", settings.startTime()},
                                                     {"time scale", settings.timeScale()}};
    for (const auto& [name, value] : values)
        if (!std::isfinite(value)) return std::string("The ") + name + " is not a finite number";
    return std::nullopt;
}

std::optional<std::string> frameRangeProblem(const FrameRange& range, int frameCount) {
    if (range.first >= 1 && range.first <= range.last && range.last <= frameCount)
        return std::nullopt;
    return "Frames " + std::to_string(range.first) + "-" + std::to_string(range.last) +
           " are outside the render's " + std::to_string(frameCount) +
           (frameCount == 1 ? " frame" : " frames");
}

RenderPlan RenderPlan::forSettings(const RenderSettings& settings) {
    RenderPlan plan;
    plan.width = stringIntValue(settings.width());
    plan.height = stringIntValue(settings.height());
    plan.timeScale = settings.timeScale();
    plan.startTime = settings.startTime();
    plan.motionBlur = settings.motionBlur();
    plan.extraSubframes = plan.motionBlur >= 1 ? plan.motionBlur - 1 : 0;
    double aa = settings.AA();
    plan.downscale = aa >= 1.0 ? 1.0 / aa : 1.0;
    double framerate = settings.framerate();
    plan.frameDuration = framerate >= 0 ? 1.0 / framerate : 1.0;
    if (plan.extraSubframes > 0) plan.subframeDuration = plan.frameDuration / plan.motionBlur;
    // Only a count within kMaxRenderFrames is rendered; the check comes first.
    plan.frameCount = static_cast<int>(
        std::min<long long>(frameCountFor(framerate, settings.duration()), INT_MAX));
    plan.floatFrames = settings.codec().value_or("") == kOpenEXRType;
    plan.endFrame = plan.frameCount;
    if (auto range = settings.frameRange()) {
        plan.ranged = true;
        plan.firstFrame = range->first - 1;
        plan.endFrame = range->last;
    }
    return plan;
}

double RenderPlan::frameTime(int index) const {
    return startTime + index * frameDuration * timeScale;
}

double RenderPlan::subframeTime(double frameTime, int sample) const {
    return frameTime + sample * subframeDuration * timeScale;
}

double RenderPlan::preRollTime(long long k) const {
    double step = extraSubframes > 0 ? subframeDuration : frameDuration;
    return static_cast<double>(k) * step * timeScale;
}

long long RenderPlan::preRollRenders() const {
    if (!(startTime > 0) || !(preRollTime(0) < startTime)) return 0;
    double advance = preRollTime(1);
    // A time scale of 0 or less never reaches the start: one render is all it gets.
    if (!(advance > 0)) return 1;
    // The first time at or past the start, found from its estimate as the
    // pre-roll's own comparisons place it: times rise with k.
    double estimate = std::ceil(startTime / advance);
    if (!(estimate < kCountableRenders)) return static_cast<long long>(kCountableRenders);
    long long k = std::max(1LL, static_cast<long long>(estimate));
    while (k > 1 && !(preRollTime(k - 1) < startTime)) --k;
    while (preRollTime(k) < startTime) ++k;
    return k;
}

std::optional<std::string> RenderPlan::preRollProblem() const {
    const long long renders = preRollRenders();
    if (renders <= kMaxRenderFrames) return std::nullopt;
    return "Too many pre-roll renders: a start time of " + numberText(startTime) + " s is " +
           countText(renders, kCountableRenders) + " renders, over the " +
           std::to_string(kMaxRenderFrames) + " a render may make";
}

RenderPlan::History RenderPlan::historyBefore(int index) const {
    const long long preRoll = preRollRenders();
    if (index <= 0) return {preRoll, preRoll > 0 ? preRollTime(preRoll - 1) : 0.0};
    const double lastFrame = frameTime(index - 1);
    return {preRoll + static_cast<long long>(index) * (extraSubframes + 1),
            extraSubframes > 0 ? subframeTime(lastFrame, extraSubframes) : lastFrame};
}

}  // namespace lumivane
