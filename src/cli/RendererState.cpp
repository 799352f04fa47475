#include "cli/RendererState.h"

namespace lumivane {
namespace {
int32_t g_verbosityLevel = 0;
std::function<void()> g_runLoopPass;
}  // namespace

int32_t verbosityLevel() {
    return g_verbosityLevel;
}
void setVerbosityLevel(int32_t level) {
    g_verbosityLevel = level;
}

void setRunLoopPass(std::function<void()> pass) {
    g_runLoopPass = std::move(pass);
}
void runLoopPass() {
    if (g_runLoopPass) g_runLoopPass();
}

}  // namespace lumivane
