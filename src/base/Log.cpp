#include "base/Log.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

namespace lumivane {
namespace {

std::string& programName() {
    static std::string name = "LumivaneCLI";
    return name;
}

std::string timestampNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[64];
    size_t length = strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    snprintf(text + length, sizeof text - length, ".%03ld", now.tv_nsec / 1000000);
    return text;
}

// One entry is one line: control characters from outside text (a service
// name, a path) are written as escapes so that none can start a forged line.
std::string escapedControls(const std::string& message) {
    std::string out;
    out.reserve(message.size());
    for (unsigned char c : message) {
        if (c >= 0x20 && c != 0x7F) {
            out += char(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char escape[8];
            snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        }
    }
    return out;
}

}  // namespace

void setLogProgramName(std::string name) {
    programName() = std::move(name);
}

void logLine(const std::string& message) {
    std::string line = timestampNow() + " " + programName() + "[" + std::to_string(getpid()) +
                       "] " + escapedControls(message) + "\n";
    fflush(stdout);
    fwrite(line.data(), 1, line.size(), stderr);
    fflush(stderr);
}

void nsLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string message;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        vsnprintf(buffer.data(), buffer.size(), format, args);
        message.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
    logLine(message);
}

}  // namespace lumivane
