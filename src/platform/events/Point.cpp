#include "platform/events/Point.h"

#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace lumivane {
namespace {

template <class T>
std::string shortest(T value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    if (value == 0) value = 0;  // "-0" reads back as 0 anyway; write the plain form
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

// Reads one number after optional white space; false when there is none.
bool scanNumber(const char*& cursor, double& value) {
    char* end = nullptr;
    value = strtodC(cursor, &end);
    if (end == cursor) return false;
    cursor = end;
    return true;
}

void skipSpaces(const char*& cursor) {
    while (*cursor == ' ' || *cursor == '\t' || *cursor == '\n' || *cursor == '\r') ++cursor;
}

}  // namespace

double strtodC(const char* text, char** end) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    if (!cLocale) return strtod(text, end);
    return strtod_l(text, end, cLocale);
}

std::string shortestText(double value) {
    return shortest(value);
}
std::string shortestText(float value) {
    return shortest(value);
}

std::string stringFromPoint(Point point) {
    return "{" + shortest(point.x) + ", " + shortest(point.y) + "}";
}

Point pointFromString(std::string_view text) {
    std::string copy(text);
    const char* cursor = copy.c_str();
    skipSpaces(cursor);
    if (*cursor == '{') ++cursor;
    double x = 0, y = 0;
    if (!scanNumber(cursor, x)) return {};
    skipSpaces(cursor);
    if (*cursor == ',') ++cursor;
    if (!scanNumber(cursor, y)) return {};
    return {static_cast<float>(x), static_cast<float>(y)};
}

}  // namespace lumivane
