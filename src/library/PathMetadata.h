#pragma once

#include <cmath>
#include <cstddef>
#include <functional>
#include <optional>

namespace qm {

// A file position in degrees.
struct GPS {
    double longitude = 0;
    double latitude = 0;

    friend bool operator==(const GPS& a, const GPS& b) {
        return a.longitude == b.longitude && a.latitude == b.latitude;
    }

    template <typename H>
    friend H AbslHashValue(H h, const GPS& g) {
        // -0.0 and 0.0 are equal, so they must hash alike.
        return H::combine(std::move(h), g.longitude == 0 ? 0.0 : g.longitude,
                          g.latitude == 0 ? 0.0 : g.latitude);
    }
};

// What a node knows about one of its files.
struct PathMetadata {
    std::optional<GPS> gps;
    friend bool operator==(const PathMetadata& a, const PathMetadata& b) { return a.gps == b.gps; }
};

}  // namespace qm
