// What the render-job tests share with their helper program: a settings
// record filled as the controller fills it, and the paths of the tools.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "shared/RenderSettings.h"

namespace lumivane::test {

struct JobRequest {
    std::string composition = std::string(LUMIVANE_SOURCE_DIR) + "/tests/cli/data/ramp.qtz";
    std::string moviePath;
    std::string codec = "avc1";
    double duration = 1;
    double framerate = 10;
    double startTime = 0;
    std::string width = "64";
    std::string height = "48";
};

// In the controller's order of setting.
inline std::shared_ptr<RenderSettings> makeSettings(
    const JobRequest& request, std::shared_ptr<AppControllerProxy> controller) {
    auto s = std::make_shared<RenderSettings>();
    s->setCodec(request.codec);
    s->setAA(1);
    s->setMotionBlur(0);
    s->setAppController(std::move(controller));
    s->setMoviePath(request.moviePath);
    s->setCompositionFile(request.composition);
    s->setRecordButton(ObjectReference{"recordButton"});
    s->setWidth(request.width);
    s->setHeight(request.height);
    s->setQuality(3);
    s->setFramerate(request.framerate);
    s->setDuration(request.duration);
    s->setInputValues(PlistValue(PlistDict{}));
    s->setStartTime(request.startTime);
    s->setTimeScale(1);
    s->setEvents(std::make_shared<const EventArray>());
    return s;
}

inline std::string rendererPath() {
    const char* fromEnvironment = std::getenv("LUMIVANE_CLI");
    if (fromEnvironment && *fromEnvironment) return fromEnvironment;
    return std::string(LUMIVANE_BINARY_DIR) + "/bin/LumivaneCLI";
}

}  // namespace lumivane::test
