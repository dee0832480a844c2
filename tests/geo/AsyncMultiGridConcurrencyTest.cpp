#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>

#include "core/MainQueue.h"
#include "geo/AsyncMultiGrid.h"

namespace qm {
namespace {

template <typename Distribution, typename Rng>
PathMetadata randomPosition(Distribution& lon, Distribution& lat, Rng& rng) {
    GPS g;
    g.longitude = lon(rng);  // drawn first, as the seeds' sequences were made
    g.latitude = lat(rng);
    return PathMetadata{g};
}

// A published grid read on another thread while later updates build on the
// cells it shares must never see a change.
TEST(AsyncMultiGridConcurrencyTest, PublishedGridStaysPutWhileUpdatesRun) {
    int published = 0;
    AsyncMultiGrid async([&] { ++published; });
    LocationMap m;
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> lon(-180, 180), lat(-80, 80);
    for (int i = 0; i < 2000; ++i)
        m[QuickString::literal("/g/" + std::to_string(i))] = randomPosition(lon, lat, rng);
    async.update(m, std::nullopt);
    ASSERT_TRUE(mainQueue().runUntil([&] { return published == 1; }, std::chrono::seconds(30)));
    std::shared_ptr<const MultiGrid> snapshot = async.latestGrid();
    const auto before = snapshot->pathsInCircle(0, 0, 90);
    const size_t cells = snapshot->cellCount();

    std::atomic<bool> done{false};
    std::atomic<int> mismatches{0};
    std::thread reader([snapshot, &before, cells, &done, &mismatches] {
        while (!done.load()) {
            if (snapshot->pathsInCircle(0, 0, 90) != before || snapshot->cellCount() != cells) ++mismatches;
        }
    });
    for (int round = 0; round < 40; ++round) {
        PathSet changed;
        for (int i = 0; i < 50; ++i) {
            auto p = QuickString::literal("/g/" + std::to_string(rng() % 2500));
            changed.insert(p);
            if (rng() % 3 == 0)
                m.erase(p);
            else
                m[p] = randomPosition(lon, lat, rng);
        }
        async.update(m, round % 2 ? std::optional<PathSet>(changed) : std::nullopt);
        mainQueue().runPending();
    }
    async.waitUntilIdle();
    mainQueue().runPending();
    done = true;
    reader.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_GT(published, 1);
    EXPECT_EQ(snapshot->pathsInCircle(0, 0, 90), before);
}

}  // namespace
}  // namespace qm
