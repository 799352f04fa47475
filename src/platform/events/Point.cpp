#include "platform/events/Point.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace lumivane {
namespace {

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

std::string stringFromPoint(Point point) {
    return "{" + shortestText(point.x) + ", " + shortestText(point.y) + "}";
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
