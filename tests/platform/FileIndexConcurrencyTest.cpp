// The index's queues, its watcher thread and readers on two other threads
// at once, under ThreadSanitizer.

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <thread>

#include "core/MainQueue.h"
#include "platform/FileIndex.h"
#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void readAll(MetadataQuery& q) {
    q.disableUpdates();
    for (size_t i = 0, n = q.resultCount(); i < n; ++i) {
        auto item = q.resultAt(i);
        (void)q.tagsAt(i);
        (void)q.latitudeAt(i);
        (void)q.pathOf(item);
    }
    q.enableUpdates();
}

TEST(FileIndexConcurrency, ChangesWhileReadersRead) {
    test::TempDir dir;
    const fs::path root = dir / "home";
    for (int i = 0; i < 20; ++i)
        for (int j = 0; j < 20; ++j)
            test::writeFile(root / ("d" + std::to_string(i)) / std::to_string(j), "x");

    FileIndex::Options o;
    o.roots = {root.string()};
    o.databasePath = (dir / "cache/index.sqlite3").string();
    o.coalesce = 50ms;
    o.log = [](const std::string&) {};
    FileIndex index(o);
    size_t updates = 0;
    index.tagQuery()->setHandlers(
        {[] {}, [&](const MetadataUpdate& u) { updates += u.changed.size() + u.added.size(); }});
    index.gpsQuery()->setHandlers({[] {}, [](const MetadataUpdate&) {}});
    index.start();
    index.tagQuery()->execute();
    index.gpsQuery()->execute();

    // Readers start during the crawl; the writer once it finished, so its
    // changes come as updates.
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            readAll(*index.tagQuery());
            (void)index.stats();
        }
    });
    for (int i = 0; i < 500 && !index.stats().gathered; ++i)
        mainQueue().runUntil([] { return false; }, 20ms);
    ASSERT_TRUE(index.stats().gathered);
    std::thread writer([&] {
        std::mt19937 rng(3);
        for (int n = 0; n < 600; ++n) {
            fs::path p = root / ("d" + std::to_string(rng() % 20)) / std::to_string(rng() % 20);
            std::error_code ec;
            if (n % 7 == 0) {
                fs::rename(p, p.string() + "-moved", ec);
            } else {
                std::string value = "T" + std::to_string(rng() % 5);
                ::lsetxattr(p.c_str(), "user.xdg.tags", value.data(), value.size(), 0);
            }
        }
        done = true;
    });
    while (!done) {
        mainQueue().runUntil([] { return false; }, 5ms);
        readAll(*index.tagQuery());
    }
    writer.join();
    reader.join();
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline && (updates == 0 || !index.stats().settled))
        mainQueue().runUntil([] { return false; }, 20ms);
    EXPECT_GT(updates, 0u);
    index.stop();
    mainQueue().runPending();
}

}  // namespace
}  // namespace qm
