#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// A populated place of the bundled table.
struct Place {
    std::string_view name;
    std::string_view area;     // first-level area; empty where the table has none
    std::string_view country;  // English name
    double latitude = 0;
    double longitude = 0;
    double distanceKm = 0;     // from the queried point
};

// Offline reverse geocoding: the nearest populated place to a point, found
// in a k-d tree over points on the unit sphere (so the antimeridian and the
// poles need no special case). Built once from places.bin (see
// data/places/convert.js); read-only afterwards, so any thread may query.
class PlaceIndex {
public:
    // Places farther than this are not named: a point at sea keeps its
    // coordinates rather than the name of some distant coast.
    static constexpr double kMaxDistanceKm = 100;

    // Parses the table (copied); none when it is malformed.
    static std::optional<PlaceIndex> load(std::string_view bytes);

    std::optional<Place> nearest(double latitude, double longitude,
                                 double maxDistanceKm = kMaxDistanceKm) const;
    size_t size() const { return records_.size(); }
    // The i-th place of the table (in file order), at distance 0.
    Place place(size_t i) const;
    // Bytes held by the table and the tree.
    size_t memoryBytes() const;

    // The name shown for a place: locality, area and country joined with
    // ", ", the United States written "USA".
    static std::string displayName(const Place& place);

private:
    struct Point {
        float x, y, z;
        uint32_t record;
    };
    struct Record {
        int32_t lat, lon;
        uint32_t name;
        uint16_t area, country;
    };
    void build(size_t lo, size_t hi, int depth);
    void search(size_t lo, size_t hi, int depth, const float q[3], float& best, size_t& bestAt) const;
    std::string_view textAt(uint32_t offset) const;

    std::vector<Point> points_;  // implicit k-d tree: median of each range at its middle
    std::vector<Record> records_;
    std::vector<uint32_t> countries_;
    std::vector<std::pair<uint32_t, uint32_t>> areas_;
    std::string text_;
};

}  // namespace qm
