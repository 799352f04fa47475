#include "platform/events/Point.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace lumivane {
namespace {

TEST(PointText, FormatsShortestCoordinates) {
    EXPECT_EQ(stringFromPoint({120, 45}), "{120, 45}");
    EXPECT_EQ(stringFromPoint({0.1f, -2.5f}), "{0.1, -2.5}");
    EXPECT_EQ(stringFromPoint({-0.0f, 0}), "{0, 0}");
    EXPECT_EQ(stringFromPoint({1e-7f, 3e20f}), "{1e-07, 3e+20}");
}

TEST(PointText, ParsesWhatItFormats) {
    for (Point p :
         {Point{120, 45}, Point{0.1f, -2.5f}, Point{1e-7f, 3e20f}, Point{0.33333334f, 1234.5677f}})
        EXPECT_EQ(pointFromString(stringFromPoint(p)), p);
}

TEST(PointText, ParsesLooseForms) {
    EXPECT_EQ(pointFromString("{1.5,2}"), (Point{1.5f, 2}));
    EXPECT_EQ(pointFromString("  { 4 , 5 } "), (Point{4, 5}));
    EXPECT_EQ(pointFromString("{4, 5} trailing"), (Point{4, 5}));
}

TEST(PointText, JunkGivesOrigin) {
    for (const char* text : {"", "junk", "{", "{3}", "{3,", "{x, 1}", "{1, y}", "}1, 2{"})
        EXPECT_EQ(pointFromString(text), (Point{})) << text;
}

TEST(ShortestText, RoundTripsDoubles) {
    for (double v : {0.5, 2.0, 0.1 + 0.2, 1e300, -3.25, 1.0 / 3, 123456789.123456789}) {
        std::string text = shortestText(v);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
    }
    EXPECT_EQ(shortestText(2.0), "2");
    EXPECT_EQ(shortestText(0.5), "0.5");
    EXPECT_EQ(shortestText(-0.0), "0");
}

}  // namespace
}  // namespace lumivane
