#include "geo/MultiGrid.h"

#include <gtest/gtest.h>

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>

#include "core/MainQueue.h"
#include "geo/AsyncMultiGrid.h"

namespace qm {
namespace {

using Points = absl::flat_hash_map<QuickString, GPS>;

// The point mapping as written down independently of the grid.
std::pair<double, double> oracleUV(double lon, double lat) {
    double a = lon / 360 + 0.5;
    double u = std::min(a - std::floor(a), std::nextafter(1.0, 0.0));
    double la = std::clamp(lat, -89.99999, 89.99999);
    double v =
        std::log(std::tan(la * std::numbers::pi / 360 + std::numbers::pi / 4)) / (2 * std::numbers::pi) + 0.5;
    return {u, std::clamp(v, 0.0, 0.9999999999999998)};
}

absl::flat_hash_set<QuickString> bruteCircle(const Points& pts, double lon, double lat, double radius) {
    absl::flat_hash_set<QuickString> out;
    auto [cu, cv] = oracleUV(lon, lat);
    double twin = cu < 0.5 ? cu + 1 : cu - 1, r = radius / 360;
    for (const auto& [p, g] : pts) {
        auto [u, v] = oracleUV(g.longitude, g.latitude);
        auto d2 = [&](double c) { return (u - c) * (u - c) + (v - cv) * (v - cv); };
        if (d2(cu) <= r * r || d2(twin) <= r * r) out.insert(p);
    }
    return out;
}

Points randomPoints(std::mt19937_64& rng, int n) {
    Points pts;
    std::uniform_real_distribution<double> lon(-180, 180), lat(-90, 90), small(-0.01, 0.01);
    std::uniform_int_distribution<int> pick(0, 9);
    for (int i = 0; i < n; ++i) {
        GPS g;
        g.longitude = lon(rng);
        g.latitude = lat(rng);
        switch (pick(rng)) {
            case 0:
                g.longitude = (pick(rng) & 1) ? 180.0 : -180.0;
                break;
            case 1:
                g.latitude = (pick(rng) & 1) ? 90.0 : -90.0;
                break;
            case 2:
                g.longitude = 2.35 + small(rng);
                g.latitude = 48.85 + small(rng);
                break;  // a dense city
            case 3:
                g.longitude = 0;
                g.latitude = 0;
                break;  // a cell boundary
            case 4:
                g.longitude = 90;
                break;
            default:
                break;
        }
        pts[QuickString::literal("/p/" + std::to_string(i))] = g;
    }
    return pts;
}

void expectSameGrid(const MultiGrid& a, const MultiGrid& b) {
    absl::flat_hash_map<MultiGrid::Key, const MultiGrid::Cell*> cells;
    a.forEachCell([&](const MultiGrid::Key& k, const MultiGrid::Cell& c) {
        EXPECT_GT(c.count(), 0u);
        cells[k] = &c;
    });
    size_t n = 0;
    b.forEachCell([&](const MultiGrid::Key& k, const MultiGrid::Cell& c) {
        ++n;
        auto it = cells.find(k);
        ASSERT_NE(it, cells.end()) << k.x << "," << k.y << "," << k.level;
        EXPECT_EQ(it->second->count(), c.count());
        EXPECT_NEAR(it->second->totalLong(), c.totalLong(), 1e-6);
        EXPECT_NEAR(it->second->totalLat(), c.totalLat(), 1e-6);
        absl::flat_hash_map<QuickString, GPS> ea, eb;
        it->second->forEachElement([&](const QuickString& p, const GPS& g) { ea[p] = g; });
        c.forEachElement([&](const QuickString& p, const GPS& g) { eb[p] = g; });
        EXPECT_EQ(ea, eb);
    });
    EXPECT_EQ(n, cells.size());
}

TEST(MultiGridTest, MappingAndEdgeCases) {
    EXPECT_EQ(MultiGrid::keyFor(180, 10, 23)->x, 0);
    EXPECT_EQ(MultiGrid::keyFor(-180, 10, 23)->x, 0);
    EXPECT_EQ(MultiGrid::keyFor(10, 90, 23)->y, (1 << 23) - 1);
    EXPECT_EQ(MultiGrid::keyFor(10, -90, 23)->y, 0);
    // Just west of -180 the wrapped position must stay in range.
    EXPECT_EQ(MultiGrid::keyFor(std::nextafter(-180.0, -200.0), 0, 23)->x, (1 << 23) - 1);
    EXPECT_FALSE(MultiGrid::unitPoint(NAN, 0));
    EXPECT_FALSE(MultiGrid::unitPoint(0, INFINITY));

    MultiGrid g;
    auto a = QuickString::literal("/a");
    EXPECT_FALSE(g.insert(a, NAN, 1));
    EXPECT_FALSE(g.insert(a, 1, -INFINITY));
    EXPECT_TRUE(g.empty());
    EXPECT_TRUE(g.insert(a, 10, 20));
    EXPECT_TRUE(g.insert(a, 10 + 1e-9, 20));  // same cells: coordinates replaced
    EXPECT_EQ(g.count(), 1u);
    EXPECT_NEAR(g.root()->totalLong(), 10 + 1e-9, 1e-12);
    EXPECT_FALSE(g.remove(a, 11, 20));
    EXPECT_TRUE(g.remove(a, 10 + 1e-9, 20));
    EXPECT_TRUE(g.empty());
    EXPECT_EQ(g.cellCount(), 0u);
}

TEST(MultiGridTest, CircleMatchesBruteForce) {
    std::mt19937_64 rng(7);
    Points pts = randomPoints(rng, 3000);
    MultiGrid g;
    for (const auto& [p, gps] : pts)
        g.insert(p, gps.longitude, gps.latitude);
    EXPECT_EQ(g.count(), pts.size());
    std::uniform_real_distribution<double> lon(-180, 180), lat(-90, 90), rad(0, 1);
    for (int i = 0; i < 400; ++i) {
        double cl = lon(rng), ca = lat(rng), r = std::pow(10, rad(rng) * 5 - 3);  // 0.001 .. 100 degrees
        if (i % 5 == 0) cl = 179.99;                  // straddles the antimeridian
        if (i % 7 == 0) ca = (i & 1) ? 89.9 : -89.9;  // polar
        if (i % 11 == 0) r = 200 + rad(rng) * 300;    // world-sized
        if (i % 13 == 0) {
            cl = 2.35;
            ca = 48.85;
            r = 0.01;
        }
        auto got = g.pathsInCircle(cl, ca, r);
        absl::flat_hash_set<QuickString> set(got.begin(), got.end());
        EXPECT_EQ(set.size(), got.size()) << "duplicates";
        EXPECT_EQ(set, bruteCircle(pts, cl, ca, r)) << cl << " " << ca << " " << r;
    }
    EXPECT_TRUE(g.pathsInCircle(NAN, 0, 10).empty());
    EXPECT_TRUE(g.pathsInCircle(0, 0, -1).empty());
}

// The one-pass build must give exactly the grid that inserting point by point
// gives, including crowded spots beyond the list limit, NaN positions and the
// edge positions of randomPoints.
TEST(MultiGridTest, BuildEqualsInserts) {
    std::mt19937_64 rng(19);
    for (int n : {0, 1, 40, 3000}) {
        Points pts = randomPoints(rng, n);
        std::vector<MultiGrid::Cell::Element> elements;
        MultiGrid inserted;
        for (const auto& [p, gps] : pts) {
            elements.push_back(MultiGrid::Cell::Element{p, gps});
            inserted.insert(p, gps.longitude, gps.latitude);
        }
        for (int i = 0; i < 50; ++i)  // one spot: a last-level cell holding a map
            elements.push_back(MultiGrid::Cell::Element{QuickString::literal("/same/" + std::to_string(i)), GPS{.latitude = -33.4, .longitude = -70.1}});
        elements.push_back(MultiGrid::Cell::Element{QuickString::literal("/nan"), GPS{.latitude = 1, .longitude = NAN}});
        elements.push_back(MultiGrid::Cell::Element{QuickString::literal("/inf"), GPS{.latitude = INFINITY, .longitude = 1}});
        for (int i = 0; i < 50; ++i)
            inserted.insert(QuickString::literal("/same/" + std::to_string(i)), -70.1, -33.4);
        MultiGrid built = MultiGrid::build(elements);
        EXPECT_EQ(built.count(), inserted.count());
        expectSameGrid(built, inserted);
        expectSameGrid(inserted, built);
        // Both keep changing alike: the built cells are ordinary cells.
        MultiGrid copy = built;
        for (const auto& [p, gps] : pts) {
            built.remove(p, gps.longitude, gps.latitude);
            inserted.remove(p, gps.longitude, gps.latitude);
        }
        expectSameGrid(built, inserted);
        EXPECT_EQ(copy.count(), pts.size() + 50);  // the shared snapshot is untouched
    }
}

TEST(MultiGridTest, ClustersCoverViewAtClampedLevels) {
    std::mt19937_64 rng(3);
    Points pts = randomPoints(rng, 2000);
    MultiGrid g;
    for (const auto& [p, gps] : pts)
        g.insert(p, gps.longitude, gps.latitude);
    // The whole world at a tiny width uses level 5; every point is in some cluster.
    auto world = g.clusters(ViewRect{-180, 180, -85.05, 85.05}, 100);
    ASSERT_FALSE(world.empty());
    size_t total = 0;
    for (const auto& c : world) {
        EXPECT_EQ(c.key.level, 5);
        total += c.count;
        EXPECT_GE(c.parentCount, c.count);
        EXPECT_GE(c.t, 0);
        EXPECT_LT(c.t, 1);
    }
    EXPECT_EQ(total, pts.size());
    auto narrow = g.clusters(ViewRect{2.3499, 2.3501, 48.8499, 48.8501}, 1280);
    for (const auto& c : narrow)
        EXPECT_EQ(c.key.level, 23);
    // A view across the antimeridian reports longitudes near its centre.
    for (const auto& c : g.clusters(ViewRect{170, 190, -10, 10}, 1280)) {
        EXPECT_LE(std::abs(c.longitude - 180), 180);
        EXPECT_LE(c.lonMin, c.lonMax);
    }
    EXPECT_TRUE(g.clusters(ViewRect{NAN, 1, 0, 1}, 100).empty());
}

TEST(MultiGridTest, UpdatesEqualFromScratch) {
    std::mt19937_64 rng(11);
    for (bool withSet : {false, true}) {
        AsyncMultiGrid async([] {});
        LocationMap current;
        std::uniform_real_distribution<double> lon(-180, 180), lat(-90, 90), nudge(-1e-7, 1e-7);
        std::uniform_int_distribution<int> path(0, 300), op(0, 5);
        for (int round = 0; round < 30; ++round) {
            PathSet changed;
            for (int i = 0; i < 40; ++i) {
                auto p = QuickString::literal("/f/" + std::to_string(path(rng)));
                changed.insert(p);
                switch (op(rng)) {
                    case 0:
                        current.erase(p);
                        break;
                    case 1:
                        current[p] = PathMetadata{};
                        break;
                    case 2:
                        current[p] = PathMetadata{GPS{.latitude = 1, .longitude = NAN}};
                        break;
                    case 3:
                        if (auto it = current.find(p); it != current.end() && it->second.gps)
                            it->second.gps->longitude += nudge(rng);
                        break;
                    default:
                        current[p] = PathMetadata{GPS{}};
                        current[p].gps->longitude = lon(rng);
                        current[p].gps->latitude = lat(rng);
                        break;
                }
            }
            async.update(current, withSet ? std::optional<PathSet>(changed) : std::nullopt);
        }
        async.waitUntilIdle();
        mainQueue().runPending();
        MultiGrid scratch;
        for (const auto& [p, m] : current)
            if (m.gps) scratch.insert(p, m.gps->longitude, m.gps->latitude);
        expectSameGrid(*async.latestGrid(), scratch);
        expectSameGrid(scratch, *async.latestGrid());
    }
}

TEST(MultiGridTest, UnchangedFullUpdatePublishesNothing) {
    int calls = 0;
    AsyncMultiGrid async([&] { ++calls; });
    LocationMap m{{QuickString::literal("/a"), PathMetadata{GPS{.latitude = 2, .longitude = 1}}},
                  {QuickString::literal("/b"), PathMetadata{GPS{.latitude = 4, .longitude = 3}}}};
    async.update(m, std::nullopt);
    ASSERT_TRUE(mainQueue().runUntil([&] { return calls == 1; }, std::chrono::seconds(10)));
    auto first = async.latestGrid();
    async.update(m, std::nullopt);
    async.waitUntilIdle();
    mainQueue().runPending();
    EXPECT_EQ(calls, 1);
    m[QuickString::literal("/a")] = PathMetadata{GPS{.latitude = 6, .longitude = 5}};
    async.update(m, std::nullopt);
    ASSERT_TRUE(mainQueue().runUntil([&] { return calls == 2; }, std::chrono::seconds(10)));
    EXPECT_EQ(async.latestGrid()->count(), 2u);
    EXPECT_EQ(first->count(), 2u);  // the old snapshot is untouched
    EXPECT_EQ(first->pathsInCircle(1, 2, 0.001).size(), 1u);
}

}  // namespace
}  // namespace qm
