// The rules of a recording that need no window: the time display, the
// normalized mouse location, merging a clip into the recording, and replay up
// to the playhead. The recording view and window apply them; tests check them
// over plain entry arrays.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/engine/EngineKeys.h"
#include "platform/events/Point.h"

namespace lumivane {

using RecordedEntries = std::vector<RecordedEventEntry>;

// "mm:ss.hh": minutes unwrapped (3725.5 s shows 62:05.50), hundredths rounded
// half away from zero.
QString timeDisplayText(double playheadSec);

// A point in view coordinates (origin bottom-left) as a fraction of the view:
// x = p.x / w, y = (p.y - 1) / h.
Point normalizedMouseLocation(double viewX, double viewY, double viewWidth, double viewHeight);

// Merges a finished clip into the recording: in replace mode the entries
// timed from clipStartTime to now (both included) go first; the clip's
// entries join and the recording is sorted by time, stably (earlier entries
// first among equal times). Returns the index of the first entry after now,
// where playback goes on.
uint32_t mergeClip(RecordedEntries& events, const RecordedEntries& clip, double clipStartTime,
                   double now, bool overwrite);

// Hands every entry due by now (eventTime <= now) from index on to deliver,
// in order, and returns the index of the first entry still to come.
uint32_t playbackEntriesToTime(const RecordedEntries& events, uint32_t index, double now,
                               const std::function<void(const RecordedEventEntry&)>& deliver);

}  // namespace lumivane
