// Offline place names: the nearest populated place of the bundled GeoNames
// table. Must reach: one lookup < 1 ms (BM_Nearest, "target < 1 ms"); the
// table's memory is reported (BM_Load, counter "bytes").
#include <benchmark/benchmark.h>

#include <random>

#include "tilegrid/PlaceIndex.h"
#include "tilegrid/PlaceNames.h"

namespace {

using namespace qm;

const PlaceIndex& index() {
    static const PlaceIndex idx = [] {
        QByteArray b = PlaceNames::tableBytes();
        return *PlaceIndex::load(std::string_view(b.constData(), size_t(b.size())));
    }();
    return idx;
}

void BM_Load(benchmark::State& state) {
    QByteArray b = PlaceNames::tableBytes();
    size_t bytes = 0;
    for (auto _ : state) {
        auto idx = PlaceIndex::load(std::string_view(b.constData(), size_t(b.size())));
        bytes = idx->memoryBytes();
        benchmark::DoNotOptimize(idx);
    }
    state.counters["bytes"] = double(bytes);
    state.counters["places"] = double(index().size());
    state.counters["fileBytes"] = double(b.size());
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

void BM_Nearest(benchmark::State& state) {
    const PlaceIndex& idx = index();
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> lat(-60, 70), lon(-180, 180);
    std::vector<std::pair<double, double>> points(4096);
    for (auto& p : points) p = {lat(rng), lon(rng)};
    size_t i = 0;
    for (auto _ : state) {
        auto& [la, lo] = points[i++ & 4095];
        benchmark::DoNotOptimize(idx.nearest(la, lo));
    }
    state.SetLabel("target < 1 ms");
}
BENCHMARK(BM_Nearest)->Unit(benchmark::kMicrosecond);

}  // namespace
