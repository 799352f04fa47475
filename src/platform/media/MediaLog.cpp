#include "platform/media/MediaLog.h"

#include <cstdarg>
#include <cstdio>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "base/Log.h"

namespace lumivane {
namespace {

// The component that speaks ("dvvideo", "mov"), as FFmpeg names it; its
// own prefix adds the object's address, which tells the reader nothing.
std::string componentName(void* object) {
    if (!object) return {};
    const AVClass* avClass = *static_cast<const AVClass* const*>(object);
    return avClass && avClass->item_name ? avClass->item_name(object) : "";
}

// FFmpeg may send one line in pieces; a line goes out once it is complete.
void logCallback(void* object, int level, const char* format, va_list arguments) {
    if (level > av_log_get_level()) return;
    thread_local std::string pending;
    thread_local std::string component;
    if (pending.empty()) component = componentName(object);
    char piece[1024];
    std::vsnprintf(piece, sizeof piece, format, arguments);
    pending += piece;
    for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (line.empty()) continue;
        logLine(component.empty() ? line : "[" + component + "] " + line);
    }
}

}  // namespace

void installMediaLog() {
    static const bool installed = [] {
        // FFmpeg reports at info level by default; the renderer's console is
        // for its own reports, so only errors get through unless chosen otherwise.
        if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_ERROR);
        av_log_set_callback(logCallback);
        return true;
    }();
    (void)installed;
}

void setMediaLogVerbosity(int verbosity) {
    installMediaLog();
    if (verbosity < 0) {
        av_log_set_level(AV_LOG_QUIET);
    } else if (verbosity <= 1) {
        av_log_set_level(AV_LOG_ERROR);
    } else if (verbosity == 2) {
        av_log_set_level(AV_LOG_WARNING);
    } else if (verbosity == 3) {
        av_log_set_level(AV_LOG_INFO);
    } else {
        av_log_set_level(AV_LOG_VERBOSE);
    }
}

}  // namespace lumivane
