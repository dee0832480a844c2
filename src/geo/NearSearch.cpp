#include "geo/NearSearch.h"

#include <algorithm>
#include <utility>

#include "core/QuickString.h"
#include "geo/GreatCircle.h"

namespace qm {

NearSearch::NearSearch(double latitude, double longitude, double radiusMeters)
    : latitude_(latitude), longitude_(longitude), radius_(radiusMeters) {}

void NearSearch::add(std::string_view path, double latitude, double longitude) {
    const double d = GreatCircle::distanceMeters(latitude_, longitude_, latitude, longitude);
    if (d <= radius_) hits_.push_back({std::string(path), d, latitude, longitude});
}

std::vector<NearSearch::Hit> NearSearch::take() {
    std::sort(hits_.begin(), hits_.end(), [](const Hit& a, const Hit& b) {
        if (a.distanceMeters != b.distanceMeters) return a.distanceMeters < b.distanceMeters;
        if (naturalLess(a.path, b.path)) return true;
        if (naturalLess(b.path, a.path)) return false;
        return a.path < b.path;
    });
    return std::exchange(hits_, {});
}

}  // namespace qm
