#include "geo/MultiGrid.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qm {

using Cell = MultiGrid::Cell;
using Key = MultiGrid::Key;

namespace {
constexpr double kMaxV = 0.9999999999999998;
constexpr double kMaxLat = 89.99999;
constexpr double kRootLat = 85.0511287798066;
}  // namespace

// ---- Cell ----

Cell::Cell(const Cell& o)
    : ThreadSafeRefCounted<Cell>(o),
      count_(o.count_),
      store_(o.store_),
      totalLong_(o.totalLong_),
      totalLat_(o.totalLat_),
      children_(o.children_) {
    if (store_ == Store::vector) new (&vector_) std::vector<Element>(o.vector_);
    if (store_ == Store::map) map_ = new Map(*o.map_);
}

Cell::~Cell() {
    dropElements();
}

void Cell::dropElements() {
    if (store_ == Store::vector) vector_.~vector();
    if (store_ == Store::map) delete map_;
    store_ = Store::none;
}

const GPS* Cell::find(const QuickString& path) const {
    if (store_ == Store::vector) {
        for (const Element& e : vector_)
            if (e.path == path) return &e.gps;
    } else if (store_ == Store::map) {
        auto it = map_->find(path);
        if (it != map_->end()) return &it->second;
    }
    return nullptr;
}

bool Cell::eraseElement(const QuickString& path) {
    if (store_ == Store::vector) {
        for (size_t i = 0; i < vector_.size(); ++i) {
            if (vector_[i].path == path) {
                if (i + 1 != vector_.size()) vector_[i] = std::move(vector_.back());
                vector_.pop_back();
                return true;
            }
        }
    } else if (store_ == Store::map) {
        return map_->erase(path) > 0;
    }
    return false;
}

void Cell::setElement(const QuickString& path, const GPS& gps) {
    if (store_ == Store::vector) {
        for (Element& e : vector_)
            if (e.path == path) e.gps = gps;
    } else if (store_ == Store::map) {
        auto it = map_->find(path);
        if (it != map_->end()) it->second = gps;
    }
}

void Cell::appendElement(const QuickString& path, const GPS& gps, bool isLeaf) {
    if (store_ == Store::none) {
        new (&vector_) std::vector<Element>();
        store_ = Store::vector;
    }
    if (store_ == Store::map) {
        map_->emplace(path, gps);
        return;
    }
    vector_.push_back(Element{path, gps});
    if (isLeaf && vector_.size() > MultiGrid::listLimit) {
        // Many files at one spot: a hash map keeps removals linear overall.
        auto* m = new Map();
        m->reserve(vector_.size());
        for (Element& e : vector_)
            m->emplace(std::move(e.path), e.gps);
        vector_.~vector();
        map_ = m;
        store_ = Store::map;
    }
}

void Cell::collectFromChildren() {
    std::vector<Element> list;
    list.reserve(count_);
    for (const IntrusivePtr<Cell>& c : children_)
        if (c) c->forEachElement([&](const QuickString& p, const GPS& g) { list.push_back(Element{p, g}); });
    dropElements();
    new (&vector_) std::vector<Element>(std::move(list));
    store_ = Store::vector;
}

void Cell::forEachElement(absl::FunctionRef<void(const QuickString&, const GPS&)> visit) const {
    if (store_ == Store::vector) {
        for (const Element& e : vector_)
            visit(e.path, e.gps);
    } else if (store_ == Store::map) {
        for (const auto& [p, g] : *map_)
            visit(p, g);
    } else {
        for (const IntrusivePtr<Cell>& c : children_)
            if (c) c->forEachElement(visit);
    }
}

void Cell::appendTo(std::vector<QuickString>& out) const {
    if (store_ == Store::vector) {
        for (const Element& e : vector_)
            out.push_back(e.path);
    } else if (store_ == Store::map) {
        for (const auto& kv : *map_)
            out.push_back(kv.first);
    } else {
        for (const IntrusivePtr<Cell>& c : children_)
            if (c) c->appendTo(out);
    }
}

// ---- MultiGrid ----

double MultiGrid::levelScaleSlow(int level) noexcept {
    return std::ldexp(1.0, level);
}

std::optional<UnitPoint> MultiGrid::unitPoint(double lon, double lat) noexcept {
    if (!std::isfinite(lon) || !std::isfinite(lat)) return std::nullopt;
    const double a = lon / 360 + 0.5;
    // a - floor(a) rounds to 1.0 for a tiny negative a; keep u inside [0, 1).
    const double u = std::min(a - std::floor(a), std::nextafter(1.0, 0.0));
    const double la = std::clamp(lat, -kMaxLat, kMaxLat);
    const double v =
        std::log(std::tan(la * std::numbers::pi / 360 + std::numbers::pi / 4)) / (2 * std::numbers::pi) + 0.5;
    return UnitPoint{u, std::clamp(v, 0.0, kMaxV)};
}

std::optional<Key> MultiGrid::keyFor(double lon, double lat, int level) noexcept {
    auto p = unitPoint(lon, lat);
    if (!p || level < 0 || level > lastLevel) return std::nullopt;
    const double s = levelScale(level);
    return Key{static_cast<int32_t>(std::floor(p->u * s)), static_cast<int32_t>(std::floor(p->v * s)), level};
}

double MultiGrid::rowLatitude(double row, int level) noexcept {
    const double v = row / levelScale(level);
    return (std::atan(std::exp((v - 0.5) * 2 * std::numbers::pi)) - std::numbers::pi / 4) * 360 /
           std::numbers::pi;
}

namespace {
// Child slot at level l + 1 for last-level coordinates (x23, y23).
inline int childIndex(uint32_t x23, uint32_t y23, int childLevel) {
    const int shift = MultiGrid::lastLevel - childLevel;
    return static_cast<int>(((x23 >> shift) & 1) | (((y23 >> shift) & 1) << 1));
}
}  // namespace

bool MultiGrid::insert(const QuickString& path, double lon, double lat) {
    auto p = unitPoint(lon, lat);
    if (!p) return false;
    const double s = levelScale(lastLevel);
    const auto x23 = static_cast<uint32_t>(p->u * s), y23 = static_cast<uint32_t>(p->v * s);
    const GPS gps{.latitude = lat, .longitude = lon};

    // Make the cells on the path private to this grid, creating missing ones.
    std::array<Cell*, levelCount> cells{};
    IntrusivePtr<Cell>* slot = &root_;
    for (int l = 0; l < levelCount; ++l) {
        if (!*slot) {
            *slot = IntrusivePtr<Cell>(new Cell());
        } else if (!(*slot)->isUnique()) {
            *slot = IntrusivePtr<Cell>(new Cell(**slot));
        }
        cells[l] = slot->get();
        if (l < lastLevel) slot = &(*slot)->children_[childIndex(x23, y23, l + 1)];
    }

    Cell* leaf = cells[lastLevel];
    if (const GPS* old = leaf->find(path)) {
        if (*old == gps) return false;
        const double dLong = gps.longitude - old->longitude, dLat = gps.latitude - old->latitude;
        for (Cell* c : cells) {
            c->totalLong_ += dLong;
            c->totalLat_ += dLat;
            c->setElement(path, gps);
        }
        return true;
    }
    for (int l = 0; l < levelCount; ++l) {
        Cell* c = cells[l];
        ++c->count_;
        c->totalLong_ += lon;
        c->totalLat_ += lat;
        if (l == lastLevel) {
            c->appendElement(path, gps, true);
        } else if (c->count_ <= listLimit) {
            c->appendElement(path, gps, false);
        } else if (c->store_ != Cell::Store::none) {
            c->dropElements();
        }
    }
    return true;
}

bool MultiGrid::remove(const QuickString& path, double lon, double lat) {
    auto p = unitPoint(lon, lat);
    if (!p) return false;
    const double s = levelScale(lastLevel);
    const auto x23 = static_cast<uint32_t>(p->u * s), y23 = static_cast<uint32_t>(p->v * s);

    // Look first, so that removing an absent path copies nothing.
    const Cell* probe = root_.get();
    for (int l = 1; probe && l < levelCount; ++l)
        probe = probe->children_[childIndex(x23, y23, l)].get();
    if (!probe || !probe->find(path)) return false;

    std::array<IntrusivePtr<Cell>*, levelCount> slots{};
    IntrusivePtr<Cell>* slot = &root_;
    for (int l = 0; l < levelCount; ++l) {
        if (!(*slot)->isUnique()) *slot = IntrusivePtr<Cell>(new Cell(**slot));
        slots[l] = slot;
        if (l < lastLevel) slot = &(*slot)->children_[childIndex(x23, y23, l + 1)];
    }
    const GPS stored = *(*slots[lastLevel])->find(path);
    for (int l = lastLevel; l >= 0; --l) {
        Cell* c = slots[l]->get();
        --c->count_;
        if (c->count_ == 0) {
            slots[l]->reset();
            continue;
        }
        c->totalLong_ -= stored.longitude;
        c->totalLat_ -= stored.latitude;
        if (c->store_ != Cell::Store::none) {
            c->eraseElement(path);
        } else if (c->count_ <= listLimit) {
            c->collectFromChildren();
        }
    }
    return true;
}

namespace {
// Bits of x in the even places, of y in the odd ones: sorting by this code
// orders last-level cells so that every cell at every level covers one run,
// and the runs of a cell's children follow one another in child order.
uint64_t interleave(uint32_t x, uint32_t y) {
    auto spread = [](uint64_t v) {
        v &= 0xFFFFFFFFu;
        v = (v | (v << 16)) & 0x0000FFFF0000FFFFull;
        v = (v | (v << 8)) & 0x00FF00FF00FF00FFull;
        v = (v | (v << 4)) & 0x0F0F0F0F0F0F0F0Full;
        v = (v | (v << 2)) & 0x3333333333333333ull;
        v = (v | (v << 1)) & 0x5555555555555555ull;
        return v;
    };
    return spread(x) | (spread(y) << 1);
}
}  // namespace

MultiGrid MultiGrid::build(std::vector<Cell::Element> points) {
    struct Coded {
        uint64_t code;
        size_t index;
    };
    std::vector<Coded> coded;
    coded.reserve(points.size());
    const double s = levelScale(lastLevel);
    for (size_t i = 0; i < points.size(); ++i) {
        auto p = unitPoint(points[i].gps.longitude, points[i].gps.latitude);
        if (p) coded.push_back({interleave(static_cast<uint32_t>(p->u * s), static_cast<uint32_t>(p->v * s)), i});
    }
    std::sort(coded.begin(), coded.end(), [](const Coded& a, const Coded& b) { return a.code < b.code; });
    // The points in code order, so that every pass below reads them in sequence.
    std::vector<uint64_t> codes;
    std::vector<Cell::Element> items;
    codes.reserve(coded.size());
    items.reserve(coded.size());
    for (const Coded& c : coded) {
        codes.push_back(c.code);
        items.push_back(std::move(points[c.index]));
    }
    coded = {};
    points = {};

    MultiGrid g;
    if (items.empty()) return g;
    struct Span {
        Cell* cell;
        size_t begin, end;
    };
    auto sum = [&](Cell* c, size_t b, size_t e) {
        double lon = 0, lat = 0;
        for (size_t k = b; k < e; ++k) {
            lon += items[k].gps.longitude;
            lat += items[k].gps.latitude;
        }
        c->count_ = static_cast<uint32_t>(e - b);
        c->totalLong_ = lon;
        c->totalLat_ = lat;
    };
    // The same element storage insert leaves: a list up to listLimit, and at
    // the last level a hash map beyond it.
    auto attach = [&](Cell* c, size_t b, size_t e, bool isLeaf) {
        const size_t n = e - b;
        if (n <= listLimit) {
            new (&c->vector_) std::vector<Cell::Element>(items.begin() + static_cast<ptrdiff_t>(b),
                                                         items.begin() + static_cast<ptrdiff_t>(e));
            c->store_ = Cell::Store::vector;
        } else if (isLeaf) {
            auto* m = new Cell::Map();
            m->reserve(n);
            for (size_t k = b; k < e; ++k)
                m->emplace(items[k].path, items[k].gps);
            c->map_ = m;
            c->store_ = Cell::Store::map;
        }
    };

    g.root_ = IntrusivePtr<Cell>(new Cell());
    sum(g.root_.get(), 0, items.size());
    attach(g.root_.get(), 0, items.size(), false);
    std::vector<Span> level{{g.root_.get(), 0, items.size()}}, next;
    for (int l = 0; l < lastLevel; ++l) {
        const int shift = 2 * (lastLevel - (l + 1));
        next.clear();
        for (const Span& span : level) {
            for (size_t i = span.begin; i < span.end;) {
                const auto slot = static_cast<size_t>((codes[i] >> shift) & 3);
                size_t j = i + 1;
                while (j < span.end && static_cast<size_t>((codes[j] >> shift) & 3) == slot)
                    ++j;
                Cell* c = new Cell();
                span.cell->children_[slot] = IntrusivePtr<Cell>(c);
                sum(c, i, j);
                next.push_back({c, i, j});
                i = j;
            }
        }
        // Element lists after the level's cells, which stay side by side.
        for (const Span& span : next)
            attach(span.cell, span.begin, span.end, l + 1 == lastLevel);
        std::swap(level, next);
    }
    return g;
}

const Cell* MultiGrid::cell(const Key& key) const {
    if (key.level < 0 || key.level > lastLevel || key.x < 0 || key.y < 0) return nullptr;
    const auto lim = static_cast<int64_t>(1) << key.level;
    if (key.x >= lim || key.y >= lim) return nullptr;
    const Cell* c = root_.get();
    for (int l = 1; c && l <= key.level; ++l) {
        const int shift = key.level - l;
        c = c->children_[((key.x >> shift) & 1) | (((key.y >> shift) & 1) << 1)].get();
    }
    return c;
}

namespace {
void walk(const Cell* c, Key k, absl::FunctionRef<void(const Key&, const Cell&)> visit) {
    visit(k, *c);
    for (int i = 0; i < 4; ++i)
        if (const Cell* ch = c->child(i))
            walk(ch, Key{2 * k.x + (i & 1), 2 * k.y + (i >> 1), k.level + 1}, visit);
}
}  // namespace

void MultiGrid::forEachCell(absl::FunctionRef<void(const Key&, const Cell&)> visit) const {
    if (root_) walk(root_.get(), Key{0, 0, 0}, visit);
}

size_t MultiGrid::cellCount() const {
    size_t n = 0;
    forEachCell([&](const Key&, const Cell&) { ++n; });
    return n;
}

// ---- clusters ----

namespace {
struct ClusterQuery {
    int level;
    double t;
    double uMin, uMax, vMin, vMax;  // view in the unit square, u unwrapped
    double center;                  // view centre longitude
    absl::FunctionRef<void(const Cluster&)> visit;
    // Row boundary latitudes cost an atan and an exp each; at coarse levels many
    // reported cells share them.
    mutable std::vector<double> rowLat = {};

    double latitudeOfRow(int32_t row) const {
        if (rowLat.empty()) return MultiGrid::rowLatitude(row, level);
        double& v = rowLat[static_cast<size_t>(row)];
        if (std::isnan(v)) v = MultiGrid::rowLatitude(row, level);
        return v;
    }

    bool overlaps(int32_t x, int32_t y, int l) const {
        const double s = MultiGrid::levelScale(l);
        const double a = x / s, b = (x + 1) / s;
        if ((y + 1) / s < vMin || y / s > vMax) return false;
        if (uMax - uMin >= 1) return true;
        const double k = std::ceil(uMin - b);  // first turn where the cell's east edge reaches the view
        return a + k <= uMax;
    }

    double shiftFor(double lon) const {
        if (lon - center > 180) return -360 * std::ceil((lon - center - 180) / 360);
        if (center - lon > 180) return 360 * std::ceil((center - lon - 180) / 360);
        return 0;
    }

    void descend(const Cell* c, int32_t x, int32_t y, int l, const Cell* parent) const {
        if (l == level) {
            Cluster out;
            out.key = Key{x, y, l};
            const double s = MultiGrid::levelScale(l);
            const GPS g = c->centroid();
            const double shift = shiftFor(g.longitude);
            out.lonMin = x / s * 360 - 180 + shift;
            out.lonMax = (x + 1) / s * 360 - 180 + shift;
            out.latMin = latitudeOfRow(y);
            out.latMax = latitudeOfRow(y + 1);
            out.longitude = g.longitude + shift;
            out.latitude = g.latitude;
            out.count = c->count();
            const GPS pg = parent->centroid();
            out.parentLongitude = pg.longitude + shift;
            out.parentLatitude = pg.latitude;
            out.parentCount = parent->count();
            out.t = t;
            visit(out);
            return;
        }
        // Cells are far apart in memory: ask for all children before reading any.
        for (int i = 0; i < 4; ++i)
            if (const Cell* ch = c->child(i)) __builtin_prefetch(ch);
        for (int i = 0; i < 4; ++i) {
            const Cell* ch = c->child(i);
            if (!ch) continue;
            const int32_t cx = 2 * x + (i & 1), cy = 2 * y + (i >> 1);
            if (overlaps(cx, cy, l + 1)) descend(ch, cx, cy, l + 1, c);
        }
    }
};

double mercatorV(double lat) {
    if (lat >= 90) return HUGE_VAL;
    if (lat <= -90) return -HUGE_VAL;
    return std::log(std::tan(lat * std::numbers::pi / 360 + std::numbers::pi / 4)) / (2 * std::numbers::pi) +
           0.5;
}
}  // namespace

void MultiGrid::clusters(const ViewRect& view, double viewWidth,
                         absl::FunctionRef<void(const Cluster&)> visit) const {
    if (!root_) return;
    for (double d : {view.lonMin, view.lonMax, view.latMin, view.latMax, viewWidth})
        if (std::isnan(d)) return;
    double z = -std::log2((view.lonMax - view.lonMin) * (5 / viewWidth) / 360);
    if (std::isnan(z)) z = lastLevel;  // an empty or inverted span: as narrow as possible
    z = std::clamp(z, 5.0, static_cast<double>(lastLevel));
    const double level = std::ceil(z);
    ClusterQuery q{static_cast<int>(level),         std::exp2(level - z) - 1,
                   view.lonMin / 360 + 0.5,         view.lonMax / 360 + 0.5,
                   mercatorV(view.latMin),          mercatorV(view.latMax),
                   (view.lonMin + view.lonMax) / 2, visit};
    if (!std::isfinite(q.center)) return;
    if (q.level <= 14) q.rowLat.assign((size_t{1} << q.level) + 1, NAN);
    if (q.uMin > q.uMax) return;
    // The root spans latitudes ±85.05°; a view entirely beyond misses it.
    if (view.latMax < -kRootLat || view.latMin > kRootLat) return;
    q.descend(root_.get(), 0, 0, 0, nullptr);
}

std::vector<Cluster> MultiGrid::clusters(const ViewRect& view, double viewWidth) const {
    std::vector<Cluster> out;
    clusters(view, viewWidth, [&](const Cluster& c) { out.push_back(c); });
    return out;
}

// ---- pathsInCircle ----

namespace {
struct CircleQuery {
    double cu, cu2, cv, r2;
    std::vector<QuickString>& out;

    static double dist2(double du, double dv) { return du * du + dv * dv; }

    bool nearWithin(double c, double u0, double u1, double v0, double v1) const {
        const double du = std::max({u0 - c, 0.0, c - u1});
        const double dv = std::max({v0 - cv, 0.0, cv - v1});
        return dist2(du, dv) <= r2;
    }
    bool cornersWithin(double c, double u0, double u1, double v0, double v1) const {
        return dist2(u0 - c, v0 - cv) <= r2 && dist2(u1 - c, v0 - cv) <= r2 && dist2(u0 - c, v1 - cv) <= r2 &&
               dist2(u1 - c, v1 - cv) <= r2;
    }
    bool pointWithin(double u, double v) const {
        return dist2(u - cu, v - cv) <= r2 || dist2(u - cu2, v - cv) <= r2;
    }

    void descend(const Cell* c, int32_t x, int32_t y, int l) const {
        const double s = MultiGrid::levelScale(l);
        const double u0 = x / s, u1 = (x + 1) / s, v0 = y / s, v1 = (y + 1) / s;
        if (!nearWithin(cu, u0, u1, v0, v1) && !nearWithin(cu2, u0, u1, v0, v1)) return;
        // Each disc is convex, so a square whose corners all lie in one of them
        // lies inside it; corners split between the two discs prove nothing.
        if (cornersWithin(cu, u0, u1, v0, v1) || cornersWithin(cu2, u0, u1, v0, v1)) {
            c->appendTo(out);
            return;
        }
        if (l == MultiGrid::lastLevel) {
            c->forEachElement([&](const QuickString& path, const GPS& g) {
                auto p = MultiGrid::unitPoint(g.longitude, g.latitude);
                if (p && pointWithin(p->u, p->v)) out.push_back(path);
            });
            return;
        }
        for (int i = 0; i < 4; ++i)
            if (const Cell* ch = c->child(i)) descend(ch, 2 * x + (i & 1), 2 * y + (i >> 1), l + 1);
    }
};
}  // namespace

std::vector<QuickString> MultiGrid::pathsInCircle(double centerLon, double centerLat, double radius) const {
    std::vector<QuickString> out;
    auto c = unitPoint(centerLon, centerLat);
    if (!root_ || !c || std::isnan(radius) || radius < 0) return out;
    const double r = radius / 360;
    CircleQuery q{c->u, c->u < 0.5 ? c->u + 1 : c->u - 1, c->v, r * r, out};
    q.descend(root_.get(), 0, 0, 0);
    return out;
}

}  // namespace qm
