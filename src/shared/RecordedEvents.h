// The recording file store: names the recording file beside a composition,
// loads it into recorded event entries with the total recording time, and
// saves entries back.
#pragma once

#include "base/Result.h"

#include <string>
#include <vector>

#include "platform/engine/EngineKeys.h"

namespace lumivane {

class RecordedEvents {
public:
    // Keys of the recording file's root and of its one take.
    static constexpr const char* kTakesKey = "takes";
    static constexpr const char* kDefaultTakeKey = "default";
    static constexpr const char* kTotalSecKey = "totalSec";
    static constexpr const char* kRecordingExtension = "QCRecording";
    // Files larger than this are not recordings anyone made; they load as none.
    static constexpr long long kMaxFileSize = 1024LL * 1024 * 1024;

    // The composition path with its last extension replaced by "QCRecording".
    static std::string recordedEventsFileForComposition(const std::string& compositionPath);

    // The recording's entries in ascending time; empty, with a total of 0, when
    // there is no readable recording. totalRecordingTime may be null.
    static std::vector<RecordedEventEntry> recordedEventsArrayForComposition(
        const std::string& compositionPath, double* totalRecordingTime);

    // Replaces the recording file as a whole, atomically; when it could not
    // be written, the reason, the old file then being left as it was.
    static Result<void> saveRecordedEventsArray(const std::vector<RecordedEventEntry>& entries,
                                                double totalRecordingTime,
                                                const std::string& compositionPath);
};

}  // namespace lumivane
