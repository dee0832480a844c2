// The map's results: circle queries against a brute-force scan of the files,
// the coalescing of requests made during a slow query, and what a user change
// and a grid change do to the window's selection and results.
#include <gtest/gtest.h>

#include <QApplication>
#include <QToolButton>
#include <QtTest/QTest>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "MapHarness.h"
#include "map/MapCanvas.h"
#include "map/MapResultsUpdater.h"
#include "map/ResultsView.h"

namespace qm::test {
namespace {

// Independent of the grid: every file's unit-square position tested against
// the circle and its copy one turn east or west.
std::vector<std::string> bruteForce(const std::vector<Located>& files, const MapCircle& c) {
    auto unit = [](double lon, double lat, double& u, double& v) {
        u = lon / 360 + 0.5;
        u -= std::floor(u);
        lat = std::clamp(lat, -89.99999, 89.99999);
        v = std::log(std::tan(lat * M_PI / 360 + M_PI / 4)) / (2 * M_PI) + 0.5;
        v = std::clamp(v, 0.0, 0.9999999999999998);
    };
    double cu, cv;
    unit(c.centerLongitude, c.centerLatitude, cu, cv);
    const double r = c.radiusLongitude / 360;
    std::vector<std::string> out;
    for (const Located& f : files) {
        double u, v;
        unit(f.lon, f.lat, u, v);
        for (double shift : {0.0, 1.0, -1.0})
            if (std::hypot(u - (cu + shift), v - cv) <= r) {
                out.push_back(f.path);
                break;
            }
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> sortedResults(const BrowserState& w) {
    std::vector<std::string> out;
    if (w.mapResults())
        for (const QuickString& p : *w.mapResults()) out.emplace_back(p.utf8());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(MapResults, CirclesMatchABruteForceScan) {
    auto files = scatteredFiles(6000, 7);
    MapHarness h(files);
    MapView& view = h.makeView();
    EXPECT_FALSE(h.window->mapResults().has_value());
    EXPECT_TRUE(view.resultsView()->isHidden());

    const MapCircle circles[] = {
        {2.3522, 48.8566, 1.5},   // Paris
        {179.8, -16, 3},          // across the antimeridian, centred east of it
        {-179.9, -15, 4},         // and west of it
        {10, 89.9, 2},            // over the north pole
        {-60, -89.99, 30},        // the south pole, wide
        {0, 0, 0.0001},           // nearly empty
    };
    for (const MapCircle& c : circles) {
        view.setPlacedCircle(c);
        ASSERT_TRUE(h.settle());
        auto expected = bruteForce(files, c);
        EXPECT_EQ(sortedResults(*h.window), expected) << c.centerLongitude << "," << c.centerLatitude;
        if (&c == &circles[0] || &c == &circles[1]) {
            EXPECT_GT(expected.size(), 10u);
        }
        EXPECT_FALSE(view.resultsView()->isHidden());
        EXPECT_EQ(view.resultsView()->text(), ResultsView::textFor(expected.size()));
    }
    // The antimeridian circles found files on both sides.
    auto across = bruteForce(files, circles[1]);
    bool east = false, west = false;
    for (const Located& f : files)
        if (std::binary_search(across.begin(), across.end(), f.path)) (f.lon > 0 ? east : west) = true;
    EXPECT_TRUE(east && west);

    // The panel's words.
    EXPECT_EQ(ResultsView::textFor(1), "1 result");
    EXPECT_EQ(ResultsView::textFor(0), "0 results");
    EXPECT_EQ(ResultsView::textFor(12), "12 results");
    EXPECT_EQ(ResultsView::textFor(std::nullopt), "");

    // Closing the panel removes the circle and the results.
    QTest::mouseClick(view.resultsView()->closeButton(), Qt::LeftButton);
    ASSERT_TRUE(h.settle());
    EXPECT_FALSE(view.placedCircle().has_value());
    EXPECT_FALSE(h.window->mapResults().has_value());
    EXPECT_TRUE(view.resultsView()->isHidden());
    // Closing it again with no circle changes nothing.
    int changes = 0;
    const Subscription onMapResults = h.window->mapResultsChanged.subscribe([&] { ++changes; });
    QTest::mouseClick(view.resultsView()->closeButton(), Qt::LeftButton);
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(changes, 0);
}

// A query that waits until the test lets it finish, counting its runs.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    std::vector<MapCircle> runs;

    MapResultsUpdater::Query query() {
        return [this](const MultiGrid& grid, const MapCircle& c) {
            std::unique_lock lock(mutex);
            runs.push_back(c);
            cv.notify_all();
            cv.wait(lock, [&] { return open; });
            return grid.pathsInCircle(c.centerLongitude, c.centerLatitude, c.radiusLongitude);
        };
    }
    void release() {
        std::lock_guard lock(mutex);
        open = true;
        cv.notify_all();
    }
    // The query runs off the main queue, so its start is awaited here.
    void waitForRuns(size_t n) {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return runs.size() >= n; });
    }
    size_t count() {
        std::lock_guard lock(mutex);
        return runs.size();
    }
};

TEST(MapResults, RequestsDuringASlowQueryCoalesceIntoOneMore) {
    MapHarness h(scatteredFiles(500, 3));
    Gate gate;
    std::optional<MapCircle> circle = MapCircle{2, 48, 1};
    std::vector<std::pair<size_t, bool>> applied;  // result count, dueToUser
    auto grid = h.db->asyncGrid();
    auto updater = MapResultsUpdater::create(
        {[&] { return circle; }, [&] { return grid->latestGrid(); },
         [&](MapResultsUpdater::Results r, bool user) { applied.emplace_back(r ? r->size() : 999999, user); }},
        gate.query());

    updater->request(false);
    EXPECT_TRUE(updater->isUpdatingInBackground());
    gate.waitForRuns(1);
    // The user moves the circle many times while the first query runs.
    for (int i = 0; i < 50; ++i) {
        circle = MapCircle{2.0 + i * 0.01, 48, 1};
        updater->request(i % 2 == 0);
    }
    EXPECT_TRUE(updater->needsAnotherUpdate());
    EXPECT_EQ(gate.count(), 1u);
    gate.release();
    ASSERT_TRUE(mainQueue().runUntil(
        [&] { return !updater->isUpdatingInBackground() && !updater->needsAnotherUpdate(); }, MapHarness::timeout));
    mainQueue().runPending();
    // Exactly one more query, with the last circle, due to the user.
    ASSERT_EQ(gate.count(), 2u);
    EXPECT_EQ(gate.runs[1], *circle);
    ASSERT_EQ(applied.size(), 2u);
    EXPECT_FALSE(applied[0].second);
    EXPECT_TRUE(applied[1].second);

    // Without a circle the results become absent at once, without a query.
    circle.reset();
    updater->request(true);
    EXPECT_FALSE(updater->isUpdatingInBackground());
    ASSERT_EQ(applied.size(), 3u);
    EXPECT_EQ(applied[2], std::make_pair(size_t(999999), true));
    EXPECT_EQ(gate.count(), 2u);
}

TEST(MapResults, UserChangesTrimTheSelectionGridChangesDoNot) {
    std::vector<Located> files = {{"/a", 2.35, 48.85}, {"/b", 2.36, 48.86}, {"/c", 2.50, 48.90}, {"/far", 100, 10}};
    MapHarness h(files);
    MapView& view = h.makeView();
    h.showMapNode();
    QuickString a = QuickString::bytes("/a"), b = QuickString::bytes("/b"), c = QuickString::bytes("/c");

    // A circle around all three Paris files, the three selected.
    view.setNextMapResultsUpdateIsDueToUser();
    view.setPlacedCircle(MapCircle{2.4, 48.87, 0.2});
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(sortedResults(*h.window), (std::vector<std::string>{"/a", "/b", "/c"}));
    h.window->setCurrentSelection({a, b, c});

    // The user shrinks it: /c leaves the circle and the selection.
    view.setNextMapResultsUpdateIsDueToUser();
    view.setPlacedCircle(MapCircle{2.355, 48.855, 0.03});
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(sortedResults(*h.window), (std::vector<std::string>{"/a", "/b"}));
    EXPECT_EQ(h.window->currentSelection(), (QuickStringSet{a, b}));

    // /b moves away: a grid change updates the results, not the selection.
    files[1] = {"/b", 50, 50};
    h.setLocations(files);
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(sortedResults(*h.window), (std::vector<std::string>{"/a"}));
    EXPECT_EQ(h.window->currentSelection(), (QuickStringSet{a, b}));

    // Off the map node a user change leaves the selection alone as well.
    h.window->setCurrentNode(NodePath{});
    h.window->setCurrentSelection({a, b});
    view.setNextMapResultsUpdateIsDueToUser();
    view.setPlacedCircle(MapCircle{-100, 0, 0.01});
    ASSERT_TRUE(h.settle());
    EXPECT_TRUE(h.window->mapResults() && h.window->mapResults()->empty());
    EXPECT_EQ(h.window->currentSelection(), (QuickStringSet{a, b}));

    // Back on the map, the user removes the circle: results absent, selection empty.
    h.showMapNode();
    h.window->setCurrentSelection({a});
    QTest::mouseClick(view.resultsView()->closeButton(), Qt::LeftButton);
    ASSERT_TRUE(h.settle());
    EXPECT_FALSE(h.window->mapResults().has_value());
    EXPECT_TRUE(h.window->currentSelection().empty());

    // Revealing a location places a tiny circle there, as a user change.
    h.window->setCurrentSelection({a, b});
    view.revealLocation(2.35, 48.85);
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(sortedResults(*h.window), (std::vector<std::string>{"/a"}));
    EXPECT_EQ(h.window->currentSelection(), (QuickStringSet{a}));
    ASSERT_TRUE(view.placedCircle().has_value());
    EXPECT_DOUBLE_EQ(view.placedCircle()->radiusLongitude, 0.001);
    // The map glides there and ends centred on it, 0.01° across.
    QTRY_VERIFY_WITH_TIMEOUT(!view.canvas()->isAnimating(), 10000);
    CoordinateRegion r = view.canvas()->region();
    EXPECT_NEAR(r.center.longitude, 2.35, 1e-9);
    EXPECT_NEAR(r.center.latitude, 48.85, 1e-9);
    EXPECT_NEAR(std::min(r.longitudeDelta, r.latitudeDelta), 0.01, 1e-6);
}

}  // namespace
}  // namespace qm::test
