#include "app/recording/RecordingTimeline.h"

#include <algorithm>
#include <cmath>

namespace lumivane {
namespace {

double timeOf(const RecordedEventEntry& entry) {
    return entry.eventTime.value_or(0.0);
}

}  // namespace

QString timeDisplayText(double playheadSec) {
    // A negative or non-finite playhead never occurs; show it as the start.
    if (!std::isfinite(playheadSec) || playheadSec < 0) playheadSec = 0;
    const auto seconds = static_cast<long long>(std::floor(playheadSec));
    const long long hundredths =
        static_cast<long long>(std::round((playheadSec - double(seconds)) * 100.0)) % 100;
    return QString::asprintf("%02lld:%02lld.%02lld", seconds / 60, seconds % 60, hundredths);
}

Point normalizedMouseLocation(double viewX, double viewY, double viewWidth, double viewHeight) {
    // A view with no area has no fraction to give; its origin stands in.
    if (viewWidth <= 0 || viewHeight <= 0) return {};
    return {float(viewX / viewWidth), float((viewY - 1.0) / viewHeight)};
}

uint32_t mergeClip(RecordedEntries& events, const RecordedEntries& clip, double clipStartTime,
                   double now, bool overwrite) {
    if (overwrite) {
        // Sorted by time: walking back from the end, the first entry before
        // the clip ends the walk.
        for (size_t i = events.size(); i-- > 0;) {
            const double time = timeOf(events[i]);
            if (time > now) continue;
            if (time < clipStartTime) break;
            events.erase(events.begin() + std::ptrdiff_t(i));
        }
    }
    events.insert(events.end(), clip.begin(), clip.end());
    std::stable_sort(events.begin(), events.end(),
                     [](const RecordedEventEntry& a, const RecordedEventEntry& b) {
                         return timeOf(a) < timeOf(b);
                     });
    const auto next = std::find_if(events.begin(), events.end(),
                                   [now](const RecordedEventEntry& e) { return timeOf(e) > now; });
    return uint32_t(next - events.begin());
}

uint32_t playbackEntriesToTime(const RecordedEntries& events, uint32_t index, double now,
                               const std::function<void(const RecordedEventEntry&)>& deliver) {
    while (index < events.size()) {
        const RecordedEventEntry& entry = events[index];
        if (timeOf(entry) > now) break;
        deliver(entry);
        ++index;
    }
    return index;
}

}  // namespace lumivane
