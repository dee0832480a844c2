#pragma once

#include <absl/container/flat_hash_map.h>
#include <absl/functional/function_ref.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "core/IntrusivePtr.h"
#include "core/PathMetadata.h"
#include "core/QuickString.h"

namespace qm {

// A position in the unit Web Mercator square: u eastward from -180°, v northward.
struct UnitPoint {
    double u = 0;
    double v = 0;
};

// A view on the map in degrees; lonMin..lonMax may extend beyond ±180.
struct ViewRect {
    double lonMin = 0;
    double lonMax = 0;
    double latMin = 0;
    double latMax = 0;
};

struct Cluster;

// The 24-level grid pyramid over the Web Mercator square. Every path with
// coordinates is an element of exactly one cell per level; only occupied cells
// exist. Copying a grid is O(1): the copy shares every cell, and whichever grid
// changes a shared cell copies the cells from the root down to it first.
class MultiGrid {
public:
    // Address of a grid cell: column, row (growing northward) and level 0..23.
    struct Key {
        int32_t x = 0;
        int32_t y = 0;
        int32_t level = 0;

        friend bool operator==(const Key& a, const Key& b) {
            return a.x == b.x && a.y == b.y && a.level == b.level;
        }
        template <typename H>
        friend H AbslHashValue(H h, const Key& k) {
            return H::combine(std::move(h), k.x, k.y, k.level);
        }
    };

    // One occupied cell. Cells are shared between successive grids through an
    // intrusive reference count (IntrusivePtr) and copied before a grid changes one that another
    // grid still holds, so a grid that is no longer changed may be read from any
    // thread. Only cells with few elements (or at the last level) store their
    // element list; larger cells keep counts and coordinate sums and enumerate
    // their elements through their children.
    class Cell : public ThreadSafeRefCounted<Cell> {
    public:
        struct Element {
            QuickString path;
            GPS gps;
        };

        uint32_t count() const noexcept { return count_; }
        double totalLong() const noexcept { return totalLong_; }
        double totalLat() const noexcept { return totalLat_; }
        GPS centroid() const noexcept {
            return GPS{.latitude = totalLat_ / count_, .longitude = totalLong_ / count_};
        }
        // Child 0..3: (2x, 2y), (2x + 1, 2y), (2x, 2y + 1), (2x + 1, 2y + 1); null when absent.
        const Cell* child(int i) const noexcept { return children_[i].get(); }
        // Every element of the cell, in no particular order.
        void forEachElement(absl::FunctionRef<void(const QuickString&, const GPS&)> visit) const;
        // Appends every element's path.
        void appendTo(std::vector<QuickString>& out) const;

    private:
        friend class MultiGrid;
        friend class ThreadSafeRefCounted<Cell>;  // deletes the last reference
        enum class Store : uint8_t { none, vector, map };
        using Map = absl::flat_hash_map<QuickString, GPS>;

        Cell() {}
        Cell(const Cell& other);
        ~Cell();
        Cell& operator=(const Cell&) = delete;

        const GPS* find(const QuickString& path) const;
        bool eraseElement(const QuickString& path);
        void setElement(const QuickString& path, const GPS& gps);
        void appendElement(const QuickString& path, const GPS& gps, bool isLeaf);
        void dropElements();
        void collectFromChildren();

        uint32_t count_ = 0;
        Store store_ = Store::none;
        double totalLong_ = 0;
        double totalLat_ = 0;
        std::array<IntrusivePtr<Cell>, 4> children_{};
        union {
            std::vector<Element> vector_;
            Map* map_;
        };
    };

    static constexpr int levelCount = 24;
    static constexpr int lastLevel = levelCount - 1;
    // A cell below the last level keeps its element list up to this many.
    static constexpr uint32_t listLimit = 32;

    MultiGrid() = default;

    // 2^level; exact, and cheap enough for the inner loops of the queries.
    static double levelScale(int level) noexcept {
        return level >= 0 && level < 32 ? static_cast<double>(uint32_t{1} << level) : levelScaleSlow(level);
    }
    // The point mapping; nullopt for NaN or infinite coordinates, which the grid
    // treats as absent.
    static std::optional<UnitPoint> unitPoint(double lon, double lat) noexcept;
    static std::optional<Key> keyFor(double lon, double lat, int level) noexcept;
    // Latitude of the boundary below row `row` at `level`.
    static double rowLatitude(double row, int level) noexcept;

    // The grid holding the given points, built in one pass: the same cells and
    // counts as inserting them one by one (totals may differ in the last bits,
    // as they are summed in another order). Paths must be distinct. Points with
    // NaN or infinite coordinates are left out. Cells of one level are made
    // together, in the order the queries walk them, so that a query reading
    // many cells of one level reads neighbouring memory.
    static MultiGrid build(std::vector<Cell::Element> points);

    // Adds the path to the 24 cells its coordinates map to, or replaces its
    // coordinates when it is already there. A path moving to other cells must be
    // removed at its old coordinates first. Returns whether the grid changed.
    bool insert(const QuickString& path, double lon, double lat);
    // Removes the path from the cells (lon, lat) maps to. Returns whether it was there.
    bool remove(const QuickString& path, double lon, double lat);

    // Cell at the key, or null. Valid while this grid is alive and unchanged.
    const Cell* cell(const Key& key) const;
    const Cell* root() const noexcept { return root_.get(); }
    bool empty() const noexcept { return root_ == nullptr; }
    // Elements (paths with coordinates) in the grid.
    size_t count() const noexcept { return root_ ? root_->count_ : 0; }
    // Every cell, parents before children.
    void forEachCell(absl::FunctionRef<void(const Key&, const Cell&)> visit) const;
    size_t cellCount() const;

    // The cells at the level where one cell is about 5 points wide in a view
    // `viewWidth` points wide (levels 5 to 23), overlapping the view.
    void clusters(const ViewRect& view, double viewWidth,
                  absl::FunctionRef<void(const Cluster&)> visit) const;
    std::vector<Cluster> clusters(const ViewRect& view, double viewWidth) const;

    // Paths whose positions lie within `radius` (degrees of longitude, as a
    // distance in the unit square times 360) of the centre, the centre's copy
    // one turn east or west included. Order is the traversal's.
    std::vector<QuickString> pathsInCircle(double centerLon, double centerLat, double radius) const;

private:
    static double levelScaleSlow(int level) noexcept;

    IntrusivePtr<Cell> root_;
};

// One reported cell of the cluster query. Longitudes are shifted by whole
// turns to lie within 180° of the view's centre.
struct Cluster {
    MultiGrid::Key key;
    double lonMin = 0, lonMax = 0, latMin = 0, latMax = 0;  // the cell's bounds
    double longitude = 0, latitude = 0;                     // its centroid
    uint32_t count = 0;
    double parentLongitude = 0, parentLatitude = 0;  // the parent cell's centroid
    uint32_t parentCount = 0;
    double t = 0;  // blend from the parent's position (1) to the cell's (0), in [0, 1)
};

}  // namespace qm
