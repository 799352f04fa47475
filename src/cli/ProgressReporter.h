// Reports to the console (by verbosity) and to the application's controller.
#pragma once

#include <memory>
#include <string>

#include "shared/AppControllerProxy.h"

namespace lumivane {

class ProgressReporter {
public:
    explicit ProgressReporter(std::shared_ptr<AppControllerProxy> controller);

    // Unguarded: a failure to reach the application leaves the render.
    void indicateStatus(const std::string& status);
    void indicateError(const std::string& error);

    // Starts the report interval; called when the frame loop begins.
    void startFrames();
    // Before frame `index` of `count`: the application's report when due, then
    // the console frame line. An application that has gone ends the process
    // through the termination path.
    void reportFrame(int index, int count);
    void reportSubframe(int sample, int samples);
    // Before a pre-roll render at composition time `time`, on the way to
    // `endTime`: at verbosity 2 and above, a console line about once a
    // second, so a long pre-roll is not mistaken for a hang.
    void reportPreRoll(double time, double endTime);
    // "Complete" and enableControls, inside one guard.
    void reportCompletion();

private:
    std::shared_ptr<AppControllerProxy> m_controller;
    double m_lastReport = 0;
    double m_lastPreRollLine = -1;
};

}  // namespace lumivane
