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
#include "library/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"
#include "library/SpotlightThread.h"

namespace {

using namespace qm;

class NoProbe final : public FolderAccessProbe {
public:
    void listDirectory(const std::string&) override {}
};

constexpr size_t fileCount = 1'000'000;
constexpr size_t tagCount = 20'000;
constexpr size_t setCount = 60'000;

// Zipf-like pick: small indices are far more common, as popular tags are.
size_t skewed(std::mt19937_64& rng, size_t n) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    double x = std::pow(u(rng), 3.0);
    return std::min(n - 1, size_t(x * double(n)));
}

MemoryMetadataIndex& bigIndex() {
    static MemoryMetadataIndex* index = [] {
        auto* idx = new MemoryMetadataIndex;
        std::mt19937_64 rng(42);
        std::vector<std::string> tags;
        for (size_t i = 0; i < tagCount; ++i) {
            if (i % 10 == 0)
                tags.push_back("Project " + std::to_string(i / 10));
            else
                tags.push_back("Area " + std::to_string(i % 50) + "/Topic " + std::to_string(i));
        }
        tags[1] = "Red";
        tags[2] = "Blue";
        std::vector<std::vector<std::string>> sets(setCount);
        std::uniform_int_distribution<int> width(1, 5);
        for (size_t s = 0; s < setCount; ++s) {
            sets[s].push_back(tags[s % tagCount]);  // every tag is used
            int w = width(rng);
            for (int k = 1; k < w; ++k)
                sets[s].push_back(tags[skewed(rng, tagCount)]);
        }
        idx->reserve(fileCount);
        for (size_t i = 0; i < fileCount; ++i) {
            std::string path = "/home/user/Pictures/" + std::to_string(2000 + i % 25) + "/Album " +
                               std::to_string(i / 400) + "/IMG_" + std::to_string(i) + ".jpg";
            idx->add({std::move(path), sets[skewed(rng, setCount)], std::nullopt, std::nullopt});
        }
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
                                                        std::make_shared<NoProbe>());
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
        state.counters["tagged"] = double((*delivered)->tags.size());

        // Freeing a million-file tree is not part of the build.
        queue.reset();
        delivered->reset();
    }
}
BENCHMARK(BM_InitialTagBuild)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
