#pragma once

// An independent great-circle distance for checking the haversine: the
// angle between the two points' unit vectors, by atan2 of the cross and dot
// products (accurate at every angle, across the antimeridian and at the poles).

#include <array>
#include <cmath>
#include <numbers>

#include "geo/GreatCircle.h"

namespace qm::test {

inline double vectorDistanceMeters(double lat1, double lon1, double lat2, double lon2) {
    const double r = std::numbers::pi / 180;
    auto unit = [&](double lat, double lon) {
        return std::array<double, 3>{std::cos(lat * r) * std::cos(lon * r), std::cos(lat * r) * std::sin(lon * r),
                                     std::sin(lat * r)};
    };
    const auto a = unit(lat1, lon1), b = unit(lat2, lon2);
    const double cx = a[1] * b[2] - a[2] * b[1], cy = a[2] * b[0] - a[0] * b[2], cz = a[0] * b[1] - a[1] * b[0];
    const double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    return GreatCircle::earthRadiusMeters * std::atan2(std::sqrt(cx * cx + cy * cy + cz * cz), dot);
}

}  // namespace qm::test
