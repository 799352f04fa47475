#include "cli/RendererState.h"

#include <cstdarg>
#include <cstdio>

namespace lumivane {
namespace {
int32_t g_verbosityLevel = 0;
std::function<void()> g_runLoopPass;
bool g_consoleClosed = false;
}  // namespace

int32_t verbosityLevel() {
    return g_verbosityLevel;
}
void setVerbosityLevel(int32_t level) {
    g_verbosityLevel = level;
}

void consoleLine(const char* format, ...) {
    if (g_consoleClosed) return;
    va_list args;
    va_start(args, format);
    const int written = vprintf(format, args);
    va_end(args);
    if (written < 0 || fflush(stdout) != 0) {
        g_consoleClosed = true;
        clearerr(stdout);
    }
}

void setRunLoopPass(std::function<void()> pass) {
    g_runLoopPass = std::move(pass);
}
void runLoopPass() {
    if (g_runLoopPass) g_runLoopPass();
}

}  // namespace lumivane
