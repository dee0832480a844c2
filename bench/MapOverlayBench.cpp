// The map overlay and base layer, CPU time per frame. Targets: one overlay
// frame (cluster dots and the circle, vertex data ready for upload) over
// 1,000,000 located files (90 % around 300 cities) in a 1,600 × 1,000 view,
// whole world and city zoom: < 8 ms (goal 4 ms). The base layer drawn at
// world and country zoom into a 1,600 × 1,000 image: < 8 ms; the memory of
// the loaded base layer is reported as the "bytes" counter.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <random>
#include <string>

#include "geo/MultiGrid.h"
#include "map/MapCamera.h"
#include "map/OverlayGeometry.h"
#include "map/WorldBaseLayer.h"
#include "support/QtBenchmarkMain.h"

namespace {
using namespace qm;

const MultiGrid& millionFiles() {
    static const MultiGrid grid = [] {
        std::mt19937_64 rng(42);
        std::uniform_real_distribution<double> lon(-180, 180), lat(-60, 70), unit(0, 1);
        std::normal_distribution<double> spread(0, 0.08);
        std::vector<GPS> cities;
        cities.push_back(GPS{.latitude = 48.8566, .longitude = 2.3522});  // Paris, for the city view
        for (int i = 1; i < 300; ++i) cities.push_back(GPS{.latitude = lat(rng), .longitude = lon(rng)});
        std::vector<MultiGrid::Cell::Element> points;
        points.reserve(1000000);
        for (size_t i = 0; i < 1000000; ++i) {
            GPS g{lon(rng), lat(rng)};
            if (unit(rng) < 0.9) {
                const GPS& c = cities[rng() % cities.size()];
                g = GPS{.latitude = std::clamp(c.latitude + spread(rng), -89.0, 89.0), .longitude = c.longitude + spread(rng)};
            }
            points.push_back({QuickString::bytes("/home/u/Pictures/p" + std::to_string(i) + ".jpg"), g});
        }
        return MultiGrid::build(std::move(points));
    }();
    return grid;
}

MapCamera camera(double lonSpan, double latSpan, Coordinate centre) {
    MapCamera c;
    c.setViewSize(1600, 1000);
    c.setRegion(CoordinateRegion{centre, lonSpan, latSpan});
    return c;
}

void overlayFrame(benchmark::State& state, MapCamera cam) {
    const MultiGrid& grid = millionFiles();
    OverlayProjection projection = OverlayProjection::of(cam);
    MapCircle circle{2.3522, 48.8566, projection.longitudeSpanForPoints(150)};
    OverlayFrame frame;
    for (auto _ : state) {
        OverlayGeometry::build(frame, &grid, projection, 1, circle, ViewPointF{800, 500});
        benchmark::DoNotOptimize(frame.vertices.data());
    }
    state.counters["quads"] = double(frame.vertexCount() / OverlayFrame::verticesPerQuad);
}

void BM_OverlayFrameWorld(benchmark::State& state) {
    overlayFrame(state, camera(360, 1, {0, 20}));
}
void BM_OverlayFrameCity(benchmark::State& state) {
    overlayFrame(state, camera(0.3, 0.1, {2.3522, 48.8566}));
}
BENCHMARK(BM_OverlayFrameWorld)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OverlayFrameCity)->Unit(benchmark::kMillisecond);

void baseLayer(benchmark::State& state, MapCamera cam) {
    auto world = WorldBaseLayer::shared();
    QImage image(1600, 1000, QImage::Format_ARGB32_Premultiplied);
    auto colors = WorldBaseLayer::colorsFor(false);
    for (auto _ : state) {
        QPainter p(&image);
        world->paint(p, cam, colors);
    }
    state.counters["bytes"] = double(world->memoryBytes());
    state.counters["points"] = double(world->pointCount(WorldBaseLayer::detailFor(cam.zoomLevel())));
}

void BM_BaseLayerWorld(benchmark::State& state) {
    baseLayer(state, camera(360, 1, {0, 20}));
}
void BM_BaseLayerCountry(benchmark::State& state) {
    baseLayer(state, camera(14, 1, {2.5, 46.5}));
}
BENCHMARK(BM_BaseLayerWorld)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaseLayerCountry)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return qm::test::runQtBenchmarks(argc, argv);
}
