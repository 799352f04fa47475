// The application's controller as the renderer sees it: every call is
// synchronous, and a failure to reach the application throws.
#pragma once

#include <string>

#include "platform/link/LinkError.h"

namespace lumivane {

class AppControllerProxy {
public:
    virtual ~AppControllerProxy() = default;
    virtual void indicateStatus(const std::string& status) = 0;
    virtual void indicateFrame(int index, int count) = 0;
    virtual void indicateError(const std::string& error) = 0;
    virtual void enableControls() = 0;
    // The argument is always absent.
    virtual void finishedRendering() = 0;
};

}  // namespace lumivane
