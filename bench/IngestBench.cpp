// Initial tag build: from the tag query's finish notification to the whole
// tree arriving on the main queue, for an in-memory index of 1,000,000 tagged
// files with 20,000 distinct tags, 1 to 5 tags per file and tag sets repeated
// as in real libraries (a few thousand sets cover most files).
// Target: under 2 s per build.

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "support/LoadedLibrary.h"
#include "support/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"
#include "library/SpotlightThread.h"
#include "SyntheticLibrary.h"

namespace {

using namespace qm;
using namespace qm::bench;

MemoryMetadataIndex& bigIndex() {
    static MemoryMetadataIndex* index = [] {
        auto* idx = new MemoryMetadataIndex;
        std::mt19937_64 rng(42);
        fillSyntheticLibrary(*idx, rng);
        return idx;
    }();
    return *index;
}

void BM_InitialTagBuild(benchmark::State& state) {
    MemoryMetadataIndex& index = bigIndex();
    auto defaults = std::make_shared<MemoryUserDefaults>();
    defaults->setValue("hasBeenLaunched", true);
    auto format = std::make_shared<TagFormat>();
    for (auto _ : state) {
        auto thread = std::make_shared<SpotlightThread>(format, index.tagQuery(), index.gpsQuery(), defaults,
                                                        std::make_shared<test::NoFolderProbe>());
        auto queue = std::make_shared<SerialQueue>("SpotlightQueue");
        auto delivered = std::make_shared<std::shared_ptr<Tree>>();
        SpotlightThread::Callbacks cb;
        cb.treeReady = [delivered](std::shared_ptr<Tree> tree) {
            mainQueue().post([delivered, tree] { *delivered = tree; });
        };
        std::weak_ptr<SerialQueue> weakQueue = queue;
        queue->async([thread, weakQueue, cb] { thread->start(weakQueue, cb); });
        queue->sync([] {});
        mainQueue().runPending();  // executes the queries

        auto began = std::chrono::steady_clock::now();
        index.tagQuery()->finish();
        mainQueue().runUntil([&] { return *delivered != nullptr; }, std::chrono::minutes(5));
        auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        state.SetIterationTime(elapsed);
        if (!*delivered) state.SkipWithError("no tree delivered");
        state.counters["tagged"] = double((*delivered)->tags().size());

        // Freeing a million-file tree is not part of the build.
        queue.reset();
        delivered->reset();
    }
}
BENCHMARK(BM_InitialTagBuild)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
