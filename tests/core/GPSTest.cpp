#include "core/GPS.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace qm {
namespace {

// The one rule every reader applies before a position reaches the map: the
// edges of the globe are on it, anything beyond, NaN and infinities are not.
TEST(GPSTest, OnGlobeIncludesTheEdgesAndNothingElse) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double latitude, longitude;
        bool onGlobe;
    } cases[] = {
        {0, 0, true},          {90, 180, true},          {-90, -180, true},
        {-0.0, -0.0, true},    {48.8584, 2.2945, true},  {std::nextafter(90.0, 91.0), 0, false},
        {0, 180.000001, false}, {-90.5, 0, false},       {0, -181, false},
        {nan, 0, false},       {0, nan, false},          {inf, 0, false},
        {0, -inf, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GPS::isOnGlobe(c.latitude, c.longitude), c.onGlobe) << c.latitude << ", " << c.longitude;
        EXPECT_EQ((GPS{.latitude = c.latitude, .longitude = c.longitude}.isOnGlobe()), c.onGlobe);
    }
}

}  // namespace
}  // namespace qm
