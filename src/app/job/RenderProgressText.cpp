#include "app/job/RenderProgressText.h"

#include <algorithm>
#include <cmath>
#include <limits>

uint32_t RenderProgressText::truncatedSeconds(double seconds) {
    if (!(seconds > 0)) return 0;  // negative, zero or not a number
    if (seconds >= 4294967296.0) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(seconds);
}

QString RenderProgressText::remainingSuffix(double elapsedSeconds, double progress) {
    const double remaining = elapsedSeconds / progress - elapsedSeconds;
    // No frame yet: p = 0 makes R infinite (or 0/0 at the very start). A
    // negative R comes only from an impossible progress above 1.
    if (std::isinf(remaining) || std::isnan(remaining) || remaining < 0 || elapsedSeconds < 5.0)
        return QString();
    const uint32_t rs = truncatedSeconds(remaining);
    const uint32_t rh = truncatedSeconds(remaining / 3600);
    const int minutes = static_cast<int>((rs % 3600) / 60);
    const int seconds = static_cast<int>(rs % 60);
    if (rh >= 4) return QString::asprintf("\u2014 about %uh remaining", rh);
    if (rh >= 1) return QString::asprintf("\u2014 about %uh %im remaining", rh, minutes);
    if (rs % 3600 >= 1800) return QString::asprintf("\u2014 about %im remaining", minutes);
    if (rs % 3600 >= 60)
        return QString::asprintf("\u2014 about %im %is remaining", minutes, seconds);
    return QString::asprintf("\u2014 about %is remaining", seconds);
}

QString RenderProgressText::elapsedLine(double elapsedSeconds, double progress) {
    const uint32_t es = truncatedSeconds(elapsedSeconds);
    const uint32_t eh = truncatedSeconds(elapsedSeconds / 3600);
    return QString::asprintf("%02u:%02u:%02u elapsed ", eh, (es % 3600) / 60, es % 60) +
           remainingSuffix(elapsedSeconds, progress);
}

RenderProgressText::FrameStatusArguments RenderProgressText::frameStatusArguments(int frameIndex,
                                                                                  int frameCount) {
    // Wraps instead of overflowing for a faulty peer's INT_MAX.
    const int frameNumber = static_cast<int>(static_cast<unsigned>(frameIndex) + 1u);
    const float percentage =
        static_cast<float>(frameNumber) * 100.0f / static_cast<float>(frameCount);
    // A report outside 0..count - 1 comes only from a faulty peer; the bar
    // stays within its range all the same.
    const double bar = (frameIndex + 0.5) / frameCount;
    return {frameNumber, frameCount, static_cast<double>(percentage),
            bar > 0 ? std::min(bar, 1.0) : 0.0};
}
