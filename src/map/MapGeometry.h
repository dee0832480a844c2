#pragma once

#include <cmath>

namespace qm {

// Coordinates of the map's Web Mercator plane. A map point is a position on
// the world square of worldSize × worldSize points: x grows eastward from
// longitude −180, y grows southward from the top of the square (latitude
// 85.0511…). A visible map rectangle is given in these points, as is the
// scroll state kept in history and in the window archive.
struct MapPoint {
    double x = 0;
    double y = 0;
};

struct MapRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double midX() const { return x + width / 2; }
    double midY() const { return y + height / 2; }
    friend bool operator==(const MapRect&, const MapRect&) = default;
};

// A position in degrees.
struct Coordinate {
    double longitude = 0;
    double latitude = 0;
};

// A region in degrees: its centre and its spans of longitude and latitude.
struct CoordinateRegion {
    Coordinate center;
    double longitudeDelta = 0;
    double latitudeDelta = 0;
};

namespace mercator {

// 2^28 points, so that one point is about one screen pixel at tile zoom 20.
inline constexpr double worldSize = 268435456.0;
inline constexpr double maxLatitude = 85.0511287798066;
inline constexpr double pi = 3.14159265358979323846;

// The Mercator value of a latitude, ln(tan(lat·π/360 + π/4)); latitudes are
// clamped to ±89.99999 first so that the poles stay finite.
inline double mercatorValue(double latitude) {
    double lat = std::fmax(-89.99999, std::fmin(89.99999, latitude));
    return std::log(std::tan(lat * pi / 360 + pi / 4));
}

// Inverse of mercatorValue.
inline double latitudeForMercator(double m) {
    return (std::atan(std::exp(m)) - pi / 4) * 360 / pi;
}

// Map point of a coordinate; longitudes outside ±180 give x outside the world
// square (no wrapping), latitudes beyond the square's edge give y beyond it.
inline MapPoint mapPoint(const Coordinate& c) {
    return MapPoint{(c.longitude + 180) / 360 * worldSize,
                    (0.5 - mercatorValue(c.latitude) / (2 * pi)) * worldSize};
}

inline Coordinate coordinate(const MapPoint& p) {
    return Coordinate{p.x / worldSize * 360 - 180,
                      latitudeForMercator((0.5 - p.y / worldSize) * 2 * pi)};
}

// x brought into [0, worldSize).
inline double wrapX(double x) {
    double w = std::fmod(x, worldSize);
    return w < 0 ? w + worldSize : w;
}

// Longitude brought within 180° of a reference longitude by whole turns.
// A remainder rather than steps of 360: a huge longitude (a damaged file)
// takes one step too, where repeated subtraction would never end.
inline double nearestLongitude(double lon, double reference) {
    const double d = lon - reference;
    if (!(d > 180 || d < -180)) return lon;  // already there (or not a number)
    if (!std::isfinite(d)) return lon;
    return reference + std::remainder(d, 360.0);
}

}  // namespace mercator
}  // namespace qm
