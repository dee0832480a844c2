// Live tag update: 1,000 files of a 1,000,000-file library change their tags;
// measured from the tag query's update notification (main thread) to the
// database's pathsChanged on the main queue, through "SpotlightQueue".
// Target: under 20 ms per update.

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/MainQueue.h"
#include "library/DB.h"
#include "support/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"
#include "support/LoadedLibrary.h"
#include "SyntheticLibrary.h"

namespace {

using namespace qm;
using namespace qm::bench;

constexpr size_t changedCount = 1'000;

void BM_LiveTagUpdate(benchmark::State& state) {
    // The database reads the home directory once the tree is there; keep it
    // away from the real one.
    const auto home = std::filesystem::temp_directory_path() / ("qm-dbbench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home);
    ::setenv("HOME", home.c_str(), 1);

    MemoryMetadataIndex index;
    std::mt19937_64 rng(7);
    const SyntheticLibrary library = fillSyntheticLibrary(index, rng);
    const auto& sets = library.sets;
    const auto& items = library.items;

    auto db = test::loadLibrary(index);
    if (db->loadingState() != LoadingState::loaded) {
        state.SkipWithError("no tree delivered");
        return;
    }

    size_t paths = 0;
    const Subscription onPaths = db->pathsChanged.subscribe([&] { ++paths; });

    // Each round retags 1,000 files spread over the library: every third
    // gains a tag, every third swaps its set for another, the rest lose one.
    size_t round = 0;
    for (auto _ : state) {
        MetadataUpdate update;
        for (size_t k = 0; k < changedCount; ++k) {
            const size_t i = (round * 7919 + k * 997) % fileCount;
            std::vector<std::string> t = index.get(items[i])->tags.value_or(std::vector<std::string>{});
            if (k % 3 == 0 || t.size() < 2)
                t.push_back("Live " + std::to_string(round % 7));
            else if (k % 3 == 1)
                t = sets[skewed(rng, setCount)];
            else
                t.pop_back();
            index.setTags(items[i], std::move(t));
            update.changed.push_back(items[i]);
        }
        ++round;
        const size_t before = paths;
        const auto began = std::chrono::steady_clock::now();
        index.tagQuery()->update(update);
        mainQueue().runUntil([&] { return paths > before; }, std::chrono::seconds(30));
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
        if (paths == before) state.SkipWithError("no pathsChanged");
    }
    state.SetLabel("target < 20 ms per 1,000-file update");
    db.reset();
    mainQueue().runPending();
    std::filesystem::remove_all(home);
}
BENCHMARK(BM_LiveTagUpdate)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace
