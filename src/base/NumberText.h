// Numbers as text, independent of the process locale: the application adopts
// the user's locale, and a stored "0.5" must still read as one half.
#pragma once

#include <string>

namespace lumivane {

// Shortest decimal text that reads back as the same number.
std::string shortestText(double value);
std::string shortestText(float value);

// strtod that always reads "." as the decimal point.
double strtodC(const char* text, char** end);

}  // namespace lumivane
