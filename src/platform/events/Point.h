#pragma once

#include <string>
#include <string_view>

namespace lumivane {

// A point of two single-precision reals, as window locations are kept.
struct Point {
    float x = 0;
    float y = 0;
    bool operator==(const Point&) const = default;
};

// "{x, y}" with both coordinates in shortest decimal form.
std::string stringFromPoint(Point point);
// Lenient: text that does not parse gives (0, 0).
Point pointFromString(std::string_view text);

// Shortest decimal text that reads back as the same number.
std::string shortestText(double value);
std::string shortestText(float value);

// strtod that always reads "." as the decimal point, whatever locale the
// process has set (a desktop application adopts the user's).
double strtodC(const char* text, char** end);

}  // namespace lumivane
