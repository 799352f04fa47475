// The system log: one line on standard error,
// "YYYY-MM-DD HH:MM:SS.mmm <program>[pid] message".
#pragma once

#include <string>

namespace lumivane {

void setLogProgramName(std::string name);
void logLine(const std::string& message);
// printf-style; never pass outside text as the format.
[[gnu::format(printf, 1, 2)]] void nsLog(const char* format, ...);

}  // namespace lumivane
