#include "geo/GreatCircle.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

namespace qm {

namespace {

double radians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}

// Locale-independent decimal number covering the whole text.
std::optional<double> parseNumber(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

double GreatCircle::distanceMeters(double lat1, double lon1, double lat2, double lon2) {
    const double phi1 = radians(lat1), phi2 = radians(lat2);
    const double dPhi = radians(lat2 - lat1), dLambda = radians(lon2 - lon1);
    const double s1 = std::sin(dPhi / 2), s2 = std::sin(dLambda / 2);
    double h = s1 * s1 + std::cos(phi1) * std::cos(phi2) * s2 * s2;
    h = std::clamp(h, 0.0, 1.0);  // rounding can push antipodal points just past 1
    return 2 * earthRadiusMeters * std::asin(std::sqrt(h));
}

std::optional<double> GreatCircle::parseRadius(std::string_view text, std::string& error) {
    double factor = 0;
    if (text.ends_with("km")) {
        factor = 1000;
        text.remove_suffix(2);
    } else if (text.ends_with("m")) {
        factor = 1;
        text.remove_suffix(1);
    } else {
        error = "a radius needs a unit, \"km\" or \"m\" (for example 2km or 500m)";
        return std::nullopt;
    }
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    auto value = parseNumber(text);
    if (!value || *value < 0) {
        error = "a radius is a number of at least 0 followed by \"km\" or \"m\"";
        return std::nullopt;
    }
    return *value * factor;
}

std::optional<double> GreatCircle::parseDegrees(std::string_view text, double limit, std::string& error) {
    auto value = parseNumber(text);
    if (!value || std::fabs(*value) > limit) {
        error = "expected decimal degrees from " + std::to_string(int(-limit)) + " to " +
                std::to_string(int(limit));
        return std::nullopt;
    }
    return value;
}

}  // namespace qm
