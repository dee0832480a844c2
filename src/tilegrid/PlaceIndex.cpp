#include "tilegrid/PlaceIndex.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace qm {

namespace {

constexpr double kEarthRadiusKm = 6371.0088;

template <typename T>
T readLE(const char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);  // the table is little-endian, as every supported target
    return v;
}

void toUnit(double lat, double lon, float out[3]) {
    double la = lat * std::numbers::pi / 180, lo = lon * std::numbers::pi / 180;
    out[0] = float(std::cos(la) * std::cos(lo));
    out[1] = float(std::cos(la) * std::sin(lo));
    out[2] = float(std::sin(la));
}

// Chord length on the unit sphere for a distance along it, and back.
double chordForKm(double km) {
    return 2 * std::sin(std::min(km / kEarthRadiusKm, std::numbers::pi) / 2);
}
double kmForChord(double chord) {
    return 2 * std::asin(std::min(chord / 2, 1.0)) * kEarthRadiusKm;
}

}  // namespace

std::optional<PlaceIndex> PlaceIndex::load(std::string_view bytes) {
    constexpr size_t kHead = 24;
    if (bytes.size() < kHead || bytes.substr(0, 8) != "QMPLACE1") return std::nullopt;
    const char* p = bytes.data();
    uint64_t countries = readLE<uint32_t>(p + 8), areas = readLE<uint32_t>(p + 12);
    uint64_t places = readLE<uint32_t>(p + 16), textBytes = readLE<uint32_t>(p + 20);
    uint64_t need = kHead + countries * 4 + areas * 8 + places * 16 + textBytes;
    if (need != bytes.size() || textBytes == 0 || bytes.back() != '\0') return std::nullopt;

    PlaceIndex index;
    const char* at = p + kHead;
    index.countries_.resize(countries);
    for (auto& c : index.countries_) {
        c = readLE<uint32_t>(at);
        at += 4;
        if (c >= textBytes) return std::nullopt;
    }
    index.areas_.resize(areas);
    for (auto& a : index.areas_) {
        a = {readLE<uint32_t>(at), readLE<uint32_t>(at + 4)};
        at += 8;
        if (a.first >= textBytes || a.second >= countries) return std::nullopt;
    }
    index.records_.resize(places);
    index.points_.resize(places);
    for (size_t i = 0; i < places; ++i) {
        Record& r = index.records_[i];
        r = {readLE<int32_t>(at), readLE<int32_t>(at + 4), readLE<uint32_t>(at + 8), readLE<uint16_t>(at + 12),
             readLE<uint16_t>(at + 14)};
        at += 16;
        if (r.name >= textBytes || (r.area != 0xFFFF && r.area >= areas) || r.country >= countries ||
            std::abs(r.lat) > 9000000 || std::abs(r.lon) > 18000000)
            return std::nullopt;
        float v[3];
        toUnit(r.lat / 1e5, r.lon / 1e5, v);
        index.points_[i] = {v[0], v[1], v[2], uint32_t(i)};
    }
    index.text_.assign(at, textBytes);
    index.build(0, index.points_.size(), 0);
    return index;
}

void PlaceIndex::build(size_t lo, size_t hi, int depth) {
    if (hi - lo <= 1) return;
    size_t mid = lo + (hi - lo) / 2;
    int axis = depth % 3;
    auto key = [axis](const Point& pt) { return axis == 0 ? pt.x : axis == 1 ? pt.y : pt.z; };
    std::nth_element(points_.begin() + long(lo), points_.begin() + long(mid), points_.begin() + long(hi),
                     [&](const Point& a, const Point& b) { return key(a) < key(b); });
    build(lo, mid, depth + 1);
    build(mid + 1, hi, depth + 1);
}

void PlaceIndex::search(size_t lo, size_t hi, int depth, const float q[3], float& best, size_t& bestAt) const {
    if (lo >= hi) return;
    size_t mid = lo + (hi - lo) / 2;
    const Point& pt = points_[mid];
    float dx = pt.x - q[0], dy = pt.y - q[1], dz = pt.z - q[2];
    float d2 = dx * dx + dy * dy + dz * dz;
    if (d2 < best) {
        best = d2;
        bestAt = mid;
    }
    int axis = depth % 3;
    float diff = q[axis] - (axis == 0 ? pt.x : axis == 1 ? pt.y : pt.z);
    bool leftFirst = diff < 0;
    if (leftFirst) search(lo, mid, depth + 1, q, best, bestAt);
    else search(mid + 1, hi, depth + 1, q, best, bestAt);
    if (diff * diff < best) {
        if (leftFirst) search(mid + 1, hi, depth + 1, q, best, bestAt);
        else search(lo, mid, depth + 1, q, best, bestAt);
    }
}

std::optional<Place> PlaceIndex::nearest(double latitude, double longitude, double maxDistanceKm) const {
    if (points_.empty() || !std::isfinite(latitude) || !std::isfinite(longitude)) return std::nullopt;
    float q[3];
    toUnit(latitude, longitude, q);
    double limit = chordForKm(maxDistanceKm);
    float best = float(limit * limit);
    size_t bestAt = points_.size();
    search(0, points_.size(), 0, q, best, bestAt);
    if (bestAt == points_.size()) return std::nullopt;
    Place found = place(points_[bestAt].record);
    found.distanceKm = kmForChord(std::sqrt(double(best)));
    return found;
}

Place PlaceIndex::place(size_t i) const {
    const Record& r = records_[i];
    Place p;
    p.name = textAt(r.name);
    p.country = textAt(countries_[r.country]);
    if (r.area != 0xFFFF) p.area = textAt(areas_[r.area].first);
    p.latitude = r.lat / 1e5;
    p.longitude = r.lon / 1e5;
    return p;
}

std::string_view PlaceIndex::textAt(uint32_t offset) const {
    return std::string_view(text_.c_str() + offset);
}

size_t PlaceIndex::memoryBytes() const {
    return points_.capacity() * sizeof(Point) + records_.capacity() * sizeof(Record) +
           countries_.capacity() * sizeof(uint32_t) + areas_.capacity() * sizeof(areas_[0]) + text_.capacity();
}

std::string PlaceIndex::displayName(const Place& place) {
    std::string out;
    for (std::string_view part : {place.name, place.area, place.country}) {
        if (part.empty()) continue;
        if (part == "United States") part = "USA";
        if (!out.empty()) out += ", ";
        out += part;
    }
    return out;
}

}  // namespace qm
