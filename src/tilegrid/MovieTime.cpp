#include "tilegrid/MovieTime.h"

#include <cmath>
#include <cstdio>

namespace qm {

std::string formatMovieTime(double seconds) {
    // A negative or absurd value (a malformed header) still reads as a time.
    double rounded = std::isfinite(seconds) ? std::round(seconds) : 0;
    long long s = rounded < 0 ? 0 : (rounded > 1e15 ? (long long)1e15 : (long long)rounded);
    char buf[48];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld", s / 60, s % 60);
    return buf;
}

}  // namespace qm
