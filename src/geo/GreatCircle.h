#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Distances on the Earth taken as a sphere of the mean radius (IUGG,
// 6371.0088 km), which is within 0.5% of the ellipsoid everywhere: plenty for
// "within 2 km of here".
struct GreatCircle {
    static constexpr double earthRadiusMeters = 6371008.8;

    // Great-circle distance in metres between two points in degrees, by the
    // haversine formula (well conditioned for small distances, exact across
    // the antimeridian and at the poles, where longitude means nothing).
    static double distanceMeters(double lat1, double lon1, double lat2, double lon2);

    // A radius as typed: a non-negative number followed by "km" or "m", with
    // or without a blank between ("2km", "2 km", "500m", "0.5 km"). Returns
    // metres; none, with `error` set, when the text is not such a radius.
    static std::optional<double> parseRadius(std::string_view text, std::string& error);
    // A latitude (-90 to 90) or longitude (-180 to 180) in decimal degrees.
    static std::optional<double> parseDegrees(std::string_view text, double limit, std::string& error);
};

}  // namespace qm
