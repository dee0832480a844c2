#pragma once

#include <cmath>
#include <utility>

namespace qm {

// A file position in degrees. Latitude first, as positions are written; initialise
// it by field names (GPS{.latitude = 48.9, .longitude = 2.3}) so the two cannot swap.
struct GPS {
    double latitude = 0;
    double longitude = 0;

    // Whether the position names a place on the globe: |latitude| <= 90 and
    // |longitude| <= 180, so NaN and infinities do not. Readers drop other
    // values: the map could not place them.
    static bool isOnGlobe(double latitude, double longitude) noexcept {
        return std::fabs(latitude) <= 90.0 && std::fabs(longitude) <= 180.0;
    }
    bool isOnGlobe() const noexcept { return isOnGlobe(latitude, longitude); }

    friend bool operator==(const GPS& a, const GPS& b) {
        return a.latitude == b.latitude && a.longitude == b.longitude;
    }

    template <typename H>
    friend H AbslHashValue(H h, const GPS& g) {
        // -0.0 and 0.0 are equal, so they must hash alike.
        return H::combine(std::move(h), g.latitude == 0 ? 0.0 : g.latitude,
                          g.longitude == 0 ? 0.0 : g.longitude);
    }
};

}  // namespace qm
