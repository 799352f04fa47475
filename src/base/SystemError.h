// The text of a failed system call, for "<file>": what failed messages.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>

namespace lumivane {

// "<what>: <strerror(errno)>"; read errno before anything else can change it.
inline std::string systemErrorText(const std::string& what, int error = errno) {
    return what + ": " + std::strerror(error);
}

}  // namespace lumivane
