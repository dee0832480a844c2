#include "map/TilePolicy.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "map/MapCamera.h"

namespace qm {

int TilePolicy::tileZoomFor(double zoomLevel, double devicePixelRatio) {
    double z = zoomLevel + std::log2(std::max(1.0, devicePixelRatio));
    // A tile is shown between 0.84 and 1.68 times its size: sharp enough,
    // and never more tiles than needed.
    return std::clamp(int(std::floor(z + 0.25)), 0, maxZoom);
}

std::vector<VisibleTile> TilePolicy::visibleTiles(const MapCamera& camera, double devicePixelRatio) {
    std::vector<VisibleTile> out;
    const int z = tileZoomFor(camera.zoomLevel(), devicePixelRatio);
    const int n = 1 << z;
    const double tileMap = mercator::worldSize / n;  // map points per tile
    const MapRect r = camera.visibleMapRect();
    const double size = tileMap * camera.scale();
    // Half-open: a tile that only touches the view's far edge is not needed.
    const int x0 = int(std::floor(r.x / tileMap)), x1 = int(std::ceil((r.x + r.width) / tileMap)) - 1;
    const int y0 = std::max(0, int(std::floor(r.y / tileMap)));
    const int y1 = std::min(n - 1, int(std::ceil((r.y + r.height) / tileMap)) - 1);
    for (int ty = y0; ty <= y1; ++ty)
        for (int tx = x0; tx <= x1; ++tx) {
            int wrapped = ((tx % n) + n) % n;
            out.push_back(VisibleTile{TileKey{z, wrapped, ty}, (tx * tileMap - r.x) * camera.scale(),
                                      (ty * tileMap - r.y) * camera.scale(), size});
        }
    const double cx = camera.viewWidth() / 2, cy = camera.viewHeight() / 2;
    auto distance = [&](const VisibleTile& t) {
        double dx = t.viewX + size / 2 - cx, dy = t.viewY + size / 2 - cy;
        return dx * dx + dy * dy;
    };
    std::stable_sort(out.begin(), out.end(),
                     [&](const VisibleTile& a, const VisibleTile& b) { return distance(a) < distance(b); });
    return out;
}

std::string TilePolicy::url(std::string_view urlTemplate, const TileKey& key) {
    std::string out;
    out.reserve(urlTemplate.size() + 16);
    for (size_t i = 0; i < urlTemplate.size(); ++i) {
        std::string_view rest = urlTemplate.substr(i);
        if (rest.starts_with("{z}")) {
            out += std::to_string(key.z);
            i += 2;
        } else if (rest.starts_with("{x}")) {
            out += std::to_string(key.x);
            i += 2;
        } else if (rest.starts_with("{y}")) {
            out += std::to_string(key.y);
            i += 2;
        } else {
            out += urlTemplate[i];
        }
    }
    return out;
}

namespace {

// max-age (or s-maxage) of a Cache-Control value; no-store and no-cache count as 0.
std::optional<long> maxAge(std::string_view value) {
    std::string lower(value);
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    std::optional<long> age;
    size_t pos = 0;
    while (pos <= lower.size()) {
        size_t end = lower.find(',', pos);
        if (end == std::string::npos) end = lower.size();
        std::string part = lower.substr(pos, end - pos);
        part.erase(0, part.find_first_not_of(" \t"));
        if (part.starts_with("no-store") || part.starts_with("no-cache")) return 0;
        for (std::string_view key : {"max-age=", "s-maxage="})
            if (part.starts_with(key)) {
                char* stop = nullptr;
                long v = std::strtol(part.c_str() + key.size(), &stop, 10);
                if (stop != part.c_str() + key.size() && v >= 0) age = std::max(age.value_or(0), v);
            }
        pos = end + 1;
    }
    return age;
}

}  // namespace

TilePolicy::Clock::time_point TilePolicy::expiry(Clock::time_point now, std::optional<std::string_view> cacheControl,
                                                 std::optional<Clock::time_point> expires,
                                                 std::optional<Clock::time_point> date) {
    Clock::time_point server = now;
    std::optional<long> age = cacheControl ? maxAge(*cacheControl) : std::nullopt;
    if (age)
        server = now + std::chrono::seconds(std::min(*age, 10L * 365 * 24 * 3600));
    else if (expires)
        server = now + (*expires - (date ? *date : now));
    return std::max(server, now + minimumLifetime);
}

}  // namespace qm
