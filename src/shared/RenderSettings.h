// The record of one render job. Properties are atomic: a getter never sees half
// of a value being set, and the value it returns stays valid after the field is
// replaced. The record validates nothing and sets no defaults. It carries only
// what a render reads: no movie, frame image or base time travels with it.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/PlistValue.h"
#include "platform/engine/EngineKeys.h"
#include "shared/AppControllerProxy.h"

namespace lumivane {

// A reference to an object of the application (vended by name over the link).
struct ObjectReference {
    std::string name;
    bool operator==(const ObjectReference&) const = default;
};

using EventArray = std::vector<RecordedEventEntry>;

// Frames `first`..`last` of the render, counted from 1, both included: the
// part of a render split into chunks that this run writes.
struct FrameRange {
    int first = 1;
    int last = 1;
    int frames() const { return last - first + 1; }
    bool operator==(const FrameRange&) const = default;
};

class RenderSettings {
public:
    std::shared_ptr<AppControllerProxy> appController() const { return get(m_appController); }
    void setAppController(std::shared_ptr<AppControllerProxy> v) {
        set(m_appController, std::move(v));
    }
    std::optional<std::string> moviePath() const { return get(m_moviePath); }
    void setMoviePath(std::optional<std::string> v) { set(m_moviePath, std::move(v)); }
    std::optional<std::string> compositionFile() const { return get(m_compositionFile); }
    void setCompositionFile(std::optional<std::string> v) { set(m_compositionFile, std::move(v)); }
    std::optional<ObjectReference> recordButton() const { return get(m_recordButton); }
    void setRecordButton(std::optional<ObjectReference> v) { set(m_recordButton, std::move(v)); }
    std::optional<std::string> width() const { return get(m_width); }
    void setWidth(std::optional<std::string> v) { set(m_width, std::move(v)); }
    std::optional<std::string> height() const { return get(m_height); }
    void setHeight(std::optional<std::string> v) { set(m_height, std::move(v)); }
    std::optional<std::string> codec() const { return get(m_codec); }
    void setCodec(std::optional<std::string> v) { set(m_codec, std::move(v)); }
    std::optional<PlistValue> inputValues() const { return get(m_inputValues); }
    void setInputValues(std::optional<PlistValue> v) { set(m_inputValues, std::move(v)); }
    std::shared_ptr<const EventArray> events() const { return get(m_events); }
    void setEvents(std::shared_ptr<const EventArray> v) { set(m_events, std::move(v)); }
    // Nothing: the whole render.
    std::optional<FrameRange> frameRange() const { return get(m_frameRange); }
    void setFrameRange(std::optional<FrameRange> v) { set(m_frameRange, std::move(v)); }

    // The file whose audio the movie carries (and audio inputs hear); nothing: silence.
    std::optional<std::string> soundtrack() const { return get(m_soundtrack); }
    void setSoundtrack(std::optional<std::string> v) { set(m_soundtrack, std::move(v)); }
    // "pcm" or "aac"; nothing: AAC beside lossy video, PCM beside intra-only or lossless.
    std::optional<std::string> soundtrackCodec() const { return get(m_soundtrackCodec); }
    void setSoundtrackCodec(std::optional<std::string> v) { set(m_soundtrackCodec, std::move(v)); }

    // Image sequences in RGB over black even where the format keeps alpha.
    bool opaque() const { return m_opaque; }
    void setOpaque(bool v) { m_opaque = v; }
    int quality() const { return m_quality; }
    void setQuality(int v) { m_quality = v; }
    int motionBlur() const { return m_motionBlur; }
    void setMotionBlur(int v) { m_motionBlur = v; }
    double AA() const { return m_AA; }
    void setAA(double v) { m_AA = v; }
    double framerate() const { return m_framerate; }
    void setFramerate(double v) { m_framerate = v; }
    double duration() const { return m_duration; }
    void setDuration(double v) { m_duration = v; }
    double startTime() const { return m_startTime; }
    void setStartTime(double v) { m_startTime = v; }
    double timeScale() const { return m_timeScale; }
    void setTimeScale(double v) { m_timeScale = v; }

private:
    template <class T>
    T get(const T& field) const {
        std::lock_guard lock(m_mutex);
        return field;
    }
    template <class T>
    void set(T& field, T value) {
        // The old value is released outside the lock.
        std::lock_guard lock(m_mutex);
        std::swap(field, value);
    }

    mutable std::mutex m_mutex;
    std::shared_ptr<AppControllerProxy> m_appController;  // not owned by the application's side
    std::optional<std::string> m_moviePath;
    std::optional<std::string> m_compositionFile;
    std::optional<ObjectReference> m_recordButton;
    std::optional<std::string> m_width;
    std::optional<std::string> m_height;
    std::optional<std::string> m_codec;
    std::optional<PlistValue> m_inputValues;
    std::shared_ptr<const EventArray> m_events;
    std::optional<FrameRange> m_frameRange;
    std::optional<std::string> m_soundtrack;
    std::optional<std::string> m_soundtrackCodec;
    std::atomic<bool> m_opaque{false};
    std::atomic<int> m_quality{0};
    std::atomic<int> m_motionBlur{0};
    std::atomic<double> m_AA{0};
    std::atomic<double> m_framerate{0};
    std::atomic<double> m_duration{0};
    std::atomic<double> m_startTime{0};
    std::atomic<double> m_timeScale{0};
};

}  // namespace lumivane
