#pragma once

#include <string>
#include <string_view>

#include "base/NumberText.h"

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

}  // namespace lumivane
