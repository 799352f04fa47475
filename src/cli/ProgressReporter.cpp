#include "cli/ProgressReporter.h"

#include <signal.h>

#include <cstdio>

#include "base/MonotonicClock.h"
#include "cli/RendererState.h"
#include "cli/TerminationPath.h"

namespace lumivane {
namespace {
constexpr double kProgressInterval = 0.25;
constexpr double kPreRollLineInterval = 1.0;
}  // namespace

ProgressReporter::ProgressReporter(std::shared_ptr<AppControllerProxy> controller)
    : m_controller(std::move(controller)) {}

void ProgressReporter::indicateStatus(const std::string& status) {
    if (m_controller) m_controller->indicateStatus(status);
}

void ProgressReporter::indicateError(const std::string& error) {
    if (m_controller) m_controller->indicateError(error);
}

void ProgressReporter::startFrames() {
    m_lastReport = monotonicSeconds();
}

void ProgressReporter::reportFrame(int index, int count) {
    double now = monotonicSeconds();
    if (now - m_lastReport > kProgressInterval || index == count - 1) {
        try {
            if (m_controller) m_controller->indicateFrame(index, count);
        } catch (...) {
            // The application has gone: finish the movie and leave as on SIGTERM.
            terminate(SIGTERM, "because the application cannot be reached");
        }
        m_lastReport = now;
    }
    if (verbosityLevel() >= 2) {
        float share = static_cast<float>(index) / static_cast<float>(count);
        consoleLine("Frame %i of %i (%2.3f%%)\n", index + 1, count,
                    static_cast<double>(100 * share));
    }
}

void ProgressReporter::reportSubframe(int sample, int samples) {
    if (verbosityLevel() >= 3) {
        consoleLine("   * subframe %i/%i\n", sample + 1, samples);
    }
}

void ProgressReporter::reportPreRoll(double time, double endTime) {
    if (verbosityLevel() < 2) return;
    const double now = monotonicSeconds();
    if (m_lastPreRollLine >= 0 && now - m_lastPreRollLine < kPreRollLineInterval) return;
    m_lastPreRollLine = now;
    // A frame range may pre-roll to a first frame at time 0 (time scale 0).
    const double share = endTime > 0 ? time / endTime : 1.0;
    consoleLine("Pre-roll %.3f of %.3f s (%2.3f%%)\n", time, endTime, 100 * share);
}

void ProgressReporter::reportCompletion() {
    try {
        if (m_controller) {
            m_controller->indicateStatus("Complete");
            m_controller->enableControls();
        }
    } catch (...) {
        // Deliberately ignored: the movie is finished, and an application that
        // has gone cannot be told.
    }
}

}  // namespace lumivane
