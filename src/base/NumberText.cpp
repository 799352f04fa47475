#include "base/NumberText.h"

#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdlib>

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

}  // namespace lumivane
