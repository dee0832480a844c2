#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The located files within a great-circle radius of a centre, nearest first.
// Every candidate is measured (the haversine costs a few dozen nanoseconds), so
// circles across the antimeridian or over a pole need no special case.
class NearSearch {
public:
    struct Hit {
        std::string path;
        double distanceMeters = 0;
        double latitude = 0, longitude = 0;
    };

    NearSearch(double latitude, double longitude, double radiusMeters);

    // Considers one file; kept when its distance is at most the radius.
    void add(std::string_view path, double latitude, double longitude);
    // The kept files by distance, equal distances in the natural order of paths.
    std::vector<Hit> take();

private:
    double latitude_, longitude_, radius_;
    std::vector<Hit> hits_;
};

}  // namespace qm
