#pragma once

namespace qm {

// The placed search circle. The radius is a span of longitude in degrees,
// which keeps the circle round on the Mercator map at every latitude.
struct MapCircle {
    double centerLongitude = 0;
    double centerLatitude = 0;
    double radiusLongitude = 0;

    friend bool operator==(const MapCircle&, const MapCircle&) = default;
};

}  // namespace qm
