#include "platform/InotifyDirectoryWatcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

#include "core/MainQueue.h"
#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Kind = InotifyEvent::Kind;

bool has(const std::vector<DirectoryEvent>& events, const fs::path& dir, bool recursive) {
    for (const auto& e : events)
        if (e.path == dir.string() && e.mustScanSubDirs == recursive) return true;
    return false;
}

TEST(InotifyDirectoryWatcher, ChangedDirectoriesAreParentsOnceEachWithRescansWinning) {
    std::vector<InotifyEvent> batch = {
        {Kind::created, "/h/a/x", {}, false},
        {Kind::moved, "/h/b/y", "/h/a/x", false},
        {Kind::attributes, "/h/b/y", {}, false},
        {Kind::deleted, "/h/c", {}, true},
        {Kind::rescan, "/h/b", {}, false},
        {Kind::written, "/top", {}, false},
    };
    auto out = InotifyDirectoryWatcher::changedDirectories(batch);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].path, "/h/a");
    EXPECT_FALSE(out[0].mustScanSubDirs);
    EXPECT_EQ(out[1].path, "/h/b");
    EXPECT_TRUE(out[1].mustScanSubDirs);
    EXPECT_EQ(out[2].path, "/h");
    EXPECT_EQ(out[3].path, "/");
}

TEST(InotifyDirectoryWatcher, ReportsChangedDirectoriesOnTheMainQueueAndRescansOnLoss) {
    MainQueue& queue = mainQueue();
    test::TempDir dir;
    fs::create_directories(dir / "sub/deeper");
    for (const char* d : {"p", "q", "r"}) fs::create_directories(dir / d);
    std::vector<DirectoryEvent> got;
    std::mutex linesMutex;
    std::vector<std::string> lines;
    InotifyDirectoryWatcher::Options options;
    options.maxWatches = 4;  // root, sub, deeper and one more
    options.unwatchedRescanInterval = 100ms;
    options.log = [&](const std::string& line) {
        std::lock_guard lock(linesMutex);
        lines.push_back(line);
    };
    InotifyDirectoryWatcher watcher(options);
    watcher.start(dir.path().string(), 0.05, [&](const std::vector<DirectoryEvent>& events) {
        EXPECT_TRUE(queue.isMainThread());
        got.insert(got.end(), events.begin(), events.end());
    });
    ASSERT_NE(watcher.tree(), nullptr);
    ASSERT_TRUE(watcher.tree()->waitUntilReady(5s));
    EXPECT_TRUE(got.empty());  // nothing from inside start()

    test::writeFile(dir / "sub/deeper/file", "x");
    EXPECT_TRUE(queue.runUntil([&] { return has(got, dir / "sub/deeper", false); }, 5s));
    fs::rename(dir / "sub/deeper/file", dir / "moved");
    EXPECT_TRUE(queue.runUntil([&] { return has(got, dir.path(), false); }, 5s));

    // Two of p, q, r stay unwatched: they come back as whole-subtree rescans.
    EXPECT_TRUE(queue.runUntil(
        [&] {
            int n = 0;
            for (const char* d : {"p", "q", "r"}) n += has(got, dir / d, true);
            return n == 2;
        },
        5s));
    watcher.tree()->simulateOverflow();
    EXPECT_TRUE(queue.runUntil([&] { return has(got, dir.path(), true); }, 5s));
    {
        std::lock_guard lock(linesMutex);
        EXPECT_EQ(lines.size(), 1u);
    }

    // A batch already posted when stop() runs never reaches the callback.
    got.clear();
    test::writeFile(dir / "sub/late", "x");
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (queue.pendingCount() == 0 && std::chrono::steady_clock::now() < deadline) usleep(5000);
    ASSERT_GT(queue.pendingCount(), 0u);
    watcher.stop();
    EXPECT_EQ(watcher.tree(), nullptr);
    queue.runPending();
    EXPECT_TRUE(got.empty());
}

}  // namespace
}  // namespace qm
