// From the mouse release that places a city-sized circle (a Ctrl-click on the
// real pane) over 1,000,000 located files to the results panel showing the
// count: < 50 ms, wall time. The files lie 90 % around 300 cities; the circle
// is placed around Paris, one of them, at city zoom.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>

#include "commands/BrowserState.h"
#include "core/MainQueue.h"
#include "geo/AsyncMultiGrid.h"
#include "library/DB.h"
#include "support/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"
#include "library/TreeNames.h"
#include "map/MapCanvas.h"
#include "map/MapResultsUpdater.h"
#include "map/MapView.h"
#include "map/OverlayView.h"
#include "map/ResultsView.h"
#include "support/LoadedLibrary.h"
#include "support/QtBenchmarkMain.h"

namespace {
using namespace qm;
using namespace std::chrono;

void BM_PlaceCircleToResults(benchmark::State& state) {
    MemoryMetadataIndex index;
    auto defaults = std::make_shared<MemoryUserDefaults>();
    defaults->setValue("hasBeenLaunched", true);
    defaults->setValue("mapTilesEnabled", false);
    auto db = test::loadLibrary(index, defaults, nullptr);

    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> lon(-180, 180), lat(-60, 70), unit(0, 1);
    std::normal_distribution<double> spread(0, 0.08);
    std::vector<GPS> cities{GPS{.latitude = 48.8566, .longitude = 2.3522}};
    for (int i = 1; i < 300; ++i) cities.push_back(GPS{.latitude = lat(rng), .longitude = lon(rng)});
    Node::Paths paths;
    paths.reserve(1000000);
    for (size_t i = 0; i < 1000000; ++i) {
        GPS g{lon(rng), lat(rng)};
        if (unit(rng) < 0.9) {
            const GPS& c = cities[rng() % cities.size()];
            g = GPS{.latitude = std::clamp(c.latitude + spread(rng), -89.0, 89.0), .longitude = c.longitude + spread(rng)};
        }
        paths[QuickString::bytes("/home/u/Pictures/p" + std::to_string(i) + ".jpg")] = PathMetadata{g};
    }
    bool published = false;
    const Subscription onGrid = db->gridChanged.subscribe([&] { published = true; });
    db->setMapPaths(paths, std::nullopt);
    mainQueue().runUntil([&] { return published; }, minutes(2));

    auto window = BrowserState::create(CommandContext{db, nullptr, nullptr});
    window->setCurrentNode(NodePath{mapSectionName()});
    MapView view(window);
    view.resize(1600, 1000);
    view.show();
    view.canvas()->setRegion(CoordinateRegion{{2.3522, 48.8566}, 0.4, 0.1});
    QApplication::processEvents();
    OverlayView* overlay = view.overlay();

    size_t results = 0;
    int i = 0;
    for (auto _ : state) {
        // A slightly different spot each time, so each click is a new circle.
        QPointF at(800 + (i % 7), 500 + (i % 5));
        ++i;
        QString before = view.resultsView()->text();
        QMouseEvent press(QEvent::MouseButtonPress, at, overlay->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::ControlModifier);
        QApplication::sendEvent(overlay, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, overlay->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                            Qt::ControlModifier);
        auto start = steady_clock::now();
        QApplication::sendEvent(overlay, &release);
        mainQueue().runUntil(
            [&] {
                return !view.resultsUpdater()->isUpdatingInBackground() && window->mapResults() &&
                       view.resultsView()->isVisible();
            },
            seconds(10));
        QApplication::processEvents();  // the panel repaints with its count
        state.SetIterationTime(duration<double>(steady_clock::now() - start).count());
        results = window->mapResults() ? window->mapResults()->size() : 0;
        benchmark::DoNotOptimize(before);
        // Ctrl goes up and the circle away, so the next click places a new one.
        view.setOptionKeyPressed(false);
        view.clearPlacedCircle();
        mainQueue().runUntil([&] { return !window->mapResults(); }, seconds(10));
    }
    state.counters["results"] = double(results);
}
BENCHMARK(BM_PlaceCircleToResults)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
    return qm::test::runQtBenchmarks(argc, argv);
}
