// Writes the recording that drives resources/compositions/paint.qtz: three
// strokes, brush changes by scrolling and colour changes by key presses, as a
// user would record them in a 640 x 480 window.
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "platform/events/OBEvent.h"
#include "shared/RecordedEvents.h"

namespace {

using namespace lumivane;

constexpr float kWindowWidth = 640;
constexpr float kWindowHeight = 480;
constexpr double kSampleInterval = 1.0 / 60.0;

class Script {
public:
    void mouse(int type, double time, float nx, float ny) {
        Point window{nx * kWindowWidth, ny * kWindowHeight};
        add(OBEvent::mouseEventWithType(type, window, 0, 0, 0, ++m_eventNumber, 1, 1.0f), time,
            {nx, ny});
    }

    void key(double time, const char* characters, uint16_t keyCode) {
        for (int type : {NSKeyDown, NSKeyUp}) {
            add(OBEvent::keyEventWithType(type, {}, 0, 0, 0, characters, characters, false,
                                          keyCode),
                time, m_last);
            time += 0.08;
        }
    }

    void scroll(double time, float deltaY, int steps) {
        for (int i = 0; i < steps; ++i)
            add(OBEvent::scrollWheelEvent(static_cast<int32_t>(deltaY * 10), 0, 0, {}),
                time + i * kSampleInterval, m_last);
    }

    // A stroke along `path` (t in 0..1 to a normalized point), pressed at the start.
    template <class Path>
    double stroke(double start, double duration, Path path) {
        auto [x0, y0] = path(0.0);
        mouse(NSMouseMoved, start - 0.1, x0, y0);
        mouse(NSLeftMouseDown, start, x0, y0);
        double time = start;
        for (double t = kSampleInterval / duration; t <= 1.0; t += kSampleInterval / duration) {
            time += kSampleInterval;
            auto [x, y] = path(t);
            mouse(NSLeftMouseDragged, time, x, y);
        }
        auto [x1, y1] = path(1.0);
        mouse(NSLeftMouseUp, time + kSampleInterval, x1, y1);
        return time + kSampleInterval;
    }

    const std::vector<RecordedEventEntry>& entries() const { return m_entries; }

private:
    void add(std::shared_ptr<const Event> event, double time, Point normalized) {
        m_entries.push_back({std::move(event), normalized, time});
        m_last = normalized;
    }

    std::vector<RecordedEventEntry> m_entries;
    Point m_last{0.5f, 0.5f};
    int m_eventNumber = 0;
};

std::pair<float, float> wave(double t) {
    return {static_cast<float>(0.1 + 0.8 * t),
            static_cast<float>(0.7 + 0.12 * std::sin(t * 4 * std::numbers::pi))};
}

std::pair<float, float> loop(double t) {
    double a = t * 2 * std::numbers::pi;
    return {static_cast<float>(0.5 + 0.22 * std::cos(a) * 0.75),
            static_cast<float>(0.4 + 0.22 * std::sin(a))};
}

std::pair<float, float> zigzag(double t) {
    double phase = std::fmod(t * 6, 2.0);
    double y = phase < 1 ? phase : 2 - phase;
    return {static_cast<float>(0.1 + 0.8 * t), static_cast<float>(0.12 + 0.12 * y)};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <composition path>\n", argv[0]);
        return 2;
    }
    Script script;
    double end = script.stroke(0.5, 1.6, wave);
    script.key(end + 0.2, "r", 15);    // red ink
    script.scroll(end + 0.5, 1.0, 3);  // a larger brush
    end = script.stroke(end + 0.9, 1.4, loop);
    script.key(end + 0.2, "b", 11);     // red and blue: magenta
    script.scroll(end + 0.5, -2.0, 4);  // a finer brush
    end = script.stroke(end + 0.9, 1.6, zigzag);
    double total = std::ceil(end + 0.5);

    std::string composition = argv[1];
    if (!RecordedEvents::saveRecordedEventsArray(script.entries(), total, composition)) {
        fprintf(stderr, "\"%s\": could not write the recording\n",
                RecordedEvents::recordedEventsFileForComposition(composition).c_str());
        return 1;
    }
    printf("%zu events, %.1f s -> %s\n", script.entries().size(), total,
           RecordedEvents::recordedEventsFileForComposition(composition).c_str());
    return 0;
}
