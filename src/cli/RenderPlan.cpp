#include "cli/RenderPlan.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace lumivane {
namespace {

constexpr const char* kOpenEXRType = "com.ilm.openexr-image";

// Beyond this many pre-roll renders the whole render never gets to its
// frames; the count need not be exact there.
constexpr double kCountableRenders = 1e15;

int stringIntValue(const std::optional<std::string>& text) {
    return text ? PlistValue(*text).intValue() : 0;
}

}  // namespace

int frameCountFor(double framerate, double duration) {
    double count = std::trunc(framerate * duration);
    if (!(count > 0)) return 0;
    if (count >= static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<int>(count);
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
    plan.frameCount = frameCountFor(framerate, settings.duration());
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

RenderPlan::History RenderPlan::historyBefore(int index) const {
    const long long preRoll = preRollRenders();
    if (index <= 0) return {preRoll, preRoll > 0 ? preRollTime(preRoll - 1) : 0.0};
    const double lastFrame = frameTime(index - 1);
    return {preRoll + static_cast<long long>(index) * (extraSubframes + 1),
            extraSubframes > 0 ? subframeTime(lastFrame, extraSubframes) : lastFrame};
}

}  // namespace lumivane
