#include "platform/engine/GLContext.h"

namespace lumivane {

GLContext::~GLContext() = default;

}  // namespace lumivane
