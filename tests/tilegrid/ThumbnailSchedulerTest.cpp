// The thumbnail scheduler over backends that answer when the test says so,
// block like a slow disk, or never answer like a hung network mount.
#include <gtest/gtest.h>

#include "core/MainQueue.h"

#include <QImage>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "tilegrid/ThumbnailScheduler.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

QImage square(int side, QColor color) {
    QImage img(side, side, QImage::Format_ARGB32);
    img.fill(color);
    return img;
}

std::vector<QuickString> names(size_t n, const char* prefix = "/f") {
    std::vector<QuickString> out;
    for (size_t i = 0; i < n; ++i) out.push_back(QuickString::bytes(prefix + std::to_string(i)));
    return out;
}

// Requests kept for the test to answer or leave hanging.
struct Requests {
    struct Request {
        std::string path;
        std::shared_ptr<ThumbnailRequestState> state;
    };
    std::deque<Request> all;
    std::function<ThumbnailRequest(const std::string&, ThumbnailCallback)> requester() {
        return [this](const std::string& path, ThumbnailCallback done) {
            auto state = std::make_shared<ThumbnailRequestState>(std::move(done));
            all.push_back({path, state});
            return ThumbnailRequest(state);
        };
    }
    size_t live() const {
        size_t n = 0;
        for (const auto& r : all) n += !r.state->isCancelled();
        return n;
    }
    bool deliver(const std::string& path, QColor color = Qt::red) {
        for (auto& r : all)
            if (r.path == path && !r.state->isCancelled()) {
                r.state->deliver({square(256, color), ThumbnailResult::Origin::decoded});
                return true;
            }
        return false;
    }
};

void pass(ThumbnailScheduler& s, const std::vector<QuickString>& paths, size_t capacity) {
    s.beginPass();
    for (size_t i = 0; i < paths.size(); ++i) s.place(paths[i], i, capacity);
    s.endPass();
}

TEST(ThumbnailScheduler, SixteenInFlightMostRecentlyPlacedFirstAndCachedOnesServedAtOnce) {
    TileContentsCache cache;
    Requests requests;
    ThumbnailScheduler::Backend backend;
    backend.request = requests.requester();
    backend.runInBackground = [](std::function<void()> job) { job(); };
    backend.readMetadata = [](const std::string& path) {
        return FileMetadata{path == "/f39" ? std::optional<double>(61) : std::nullopt, std::nullopt};
    };
    ThumbnailScheduler s(cache, backend);
    std::vector<TileId> repainted;
    s.contentsChanged = [&](TileId id) { repainted.push_back(id); };
    auto paths = names(40);
    pass(s, paths, 100);
    ASSERT_EQ(s.inFlight(), 16);
    ASSERT_EQ(requests.all.size(), 16u);
    // Placed last is asked first: the update pass places the visible top row last.
    EXPECT_EQ(requests.all.front().path, "/f39");
    EXPECT_EQ(requests.all.back().path, "/f24");

    // Each completion starts the next waiting request; the limit holds.
    size_t delivered = 0;
    while (delivered < 40) {
        std::string next = requests.all[delivered].path;
        ASSERT_TRUE(requests.deliver(next));
        mainQueue().runPending();
        ++delivered;
        ASSERT_LE(s.inFlight(), 16);
    }
    EXPECT_EQ(s.inFlight(), 0);
    EXPECT_EQ(cache.size(), 40u);
    EXPECT_EQ(repainted.size(), 40u);
    auto id = s.find(QuickString::bytes("/f39"));
    ASSERT_TRUE(id);
    EXPECT_EQ(s.pool().tile(*id).duration, 61);
    EXPECT_EQ(s.image(*id).pixelColor(5, 5), QColor(Qt::red));

    // A second scheduler (another window) over the same cache asks for nothing.
    Requests second;
    backend.request = second.requester();
    ThumbnailScheduler other(cache, backend);
    pass(other, paths, 100);
    EXPECT_TRUE(second.all.empty());
    EXPECT_TRUE(other.pool().tile(*other.find(paths[7])).hasContents);
}

TEST(ThumbnailScheduler, RecyclingNeverWaitsForTheMetadataOfASlowDisk) {
    TileContentsCache cache;
    Requests requests;
    std::mutex m;
    std::condition_variable cv;
    bool reading = false, released = false;
    std::atomic<bool> readDone{false};
    ThumbnailScheduler::Backend backend;
    backend.request = requests.requester();
    // A disk that takes as long as the test lets it (five seconds at most).
    backend.readMetadata = [&](const std::string&) {
        std::unique_lock lock(m);
        reading = true;
        cv.notify_all();
        cv.wait_for(lock, 5s, [&] { return released; });
        readDone = true;
        return FileMetadata{};
    };
    auto s = std::make_unique<ThumbnailScheduler>(cache, backend);
    pass(*s, names(1), 1);
    ASSERT_EQ(requests.all.size(), 1u);
    // The thumbnail is ready on a worker; its metadata read hangs.
    std::thread worker([&] { requests.deliver("/f0"); });
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, 5s, [&] { return reading; }));
    }
    // Scrolling on binds the only tile to another file, cancelling the first
    // request: that must not wait for the read.
    pass(*s, names(1, "/g"), 1);
    bool stillReading;
    {
        std::lock_guard lock(m);
        stillReading = !readDone;
        released = true;
    }
    cv.notify_all();
    worker.join();
    EXPECT_TRUE(stillReading) << "cancelling waited for the metadata read";
    EXPECT_EQ(s->inFlight(), 1);  // the new file's request
    // The late result of the first file changes nothing and is not cached.
    ASSERT_TRUE(mainQueue().runUntil([&] { return readDone.load(); }, 5s));
    mainQueue().runUntil([&] { return false; }, 100ms);
    EXPECT_FALSE(cache.contains(QuickString::bytes("/f0")));
    EXPECT_FALSE(s->pool().tile(*s->find(QuickString::bytes("/g0"))).hasContents);
    EXPECT_EQ(s->inFlight(), 1);
    // Gone before a late completion arrives: nothing runs against it.
    s.reset();
    mainQueue().runPending();
}

TEST(ThumbnailScheduler, AHungRequestGivesItsSlotBackAndShowsTheIcon) {
    TileContentsCache cache;
    Requests requests;
    auto now = ThumbnailScheduler::Clock::now();
    ThumbnailScheduler::Backend backend;
    backend.request = requests.requester();
    backend.runInBackground = [](std::function<void()> job) { job(); };
    backend.readMetadata = [](const std::string&) { return FileMetadata{}; };
    backend.icon = [](const std::string&) { return square(64, Qt::gray); };
    backend.now = [&] { return now; };
    ThumbnailScheduler s(cache, backend);
    auto paths = names(20);
    pass(s, paths, 100);
    ASSERT_EQ(s.inFlight(), 16);
    now += 9s;
    s.expireStale();
    EXPECT_EQ(s.inFlight(), 16);
    EXPECT_EQ(requests.all.size(), 16u);
    now += 1s;
    s.expireStale();
    // The 16 hung requests are cancelled; the 4 still waiting go out.
    EXPECT_EQ(requests.all.size(), 20u);
    EXPECT_EQ(requests.live(), 4u);
    EXPECT_EQ(s.inFlight(), 4);
    const Tile& hung = s.pool().tile(*s.find(paths[19]));
    EXPECT_TRUE(hung.hasContents);
    EXPECT_EQ(s.image(*s.find(paths[19])).pixelColor(1, 1), QColor(Qt::gray));
    // Not remembered: the next visit tries again.
    EXPECT_FALSE(cache.contains(paths[19]));
    EXPECT_TRUE(requests.deliver("/f3"));
    mainQueue().runPending();
    EXPECT_EQ(s.inFlight(), 3);
    EXPECT_TRUE(cache.contains(paths[3]));
}

TEST(TileContentsCache, BoundedByTheBytesOfItsImages) {
    // 256 x 256 ARGB: 256 KiB each; a budget of 1 MiB keeps three and a bit.
    TileContentsCache cache(size_t(1) << 20);
    auto paths = names(10);
    for (size_t i = 0; i < 10; ++i) {
        cache.set(paths[i], TileContents{square(256, Qt::blue), {}});
        EXPECT_LE(cache.bytes(), cache.budget());
        if (i == 1) cache.get(paths[0]);  // used again: outlives its neighbour
    }
    EXPECT_EQ(cache.size(), 3u);
    EXPECT_TRUE(cache.contains(paths[9]));
    EXPECT_FALSE(cache.contains(paths[6]));
    // Small icons cost little: many fit where few thumbnails did.
    for (size_t i = 0; i < 10; ++i) cache.set(paths[i], TileContents{square(16, Qt::blue), {}});
    EXPECT_EQ(cache.size(), 10u);
    // An entry larger than the budget is not kept, and evicts nothing.
    cache.set(QuickString::bytes("/huge"), TileContents{square(1024, Qt::blue), {}});
    EXPECT_FALSE(cache.contains(QuickString::bytes("/huge")));
    EXPECT_EQ(cache.size(), 10u);
    cache.setBudget(0);
    EXPECT_EQ(cache.size(), 0u);
    EXPECT_EQ(cache.bytes(), 0u);
}

}  // namespace
}  // namespace qm::test
