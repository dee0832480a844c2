#include "platform/InotifyTree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using Kind = InotifyEvent::Kind;
using namespace std::chrono_literals;

// Gathers the batches a tree delivers on its thread.
class Collector {
public:
    InotifyTree::Callback callback() {
        return [this](std::vector<InotifyEvent> batch) {
            std::lock_guard lock(mutex_);
            ++batches_;
            for (auto& e : batch) events_.push_back(std::move(e));
            changed_.notify_all();
        };
    }
    // Waits until an event equal to `e` arrived; true when it did.
    bool waitFor(const InotifyEvent& e, std::chrono::milliseconds timeout = 5s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            for (const auto& x : events_)
                if (x == e) return true;
            return false;
        });
    }
    size_t count(Kind kind, const std::string& path) {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (const auto& x : events_) n += x.kind == kind && x.path == path;
        return n;
    }
    std::vector<InotifyEvent> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    size_t batches() {
        std::lock_guard lock(mutex_);
        return batches_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<InotifyEvent> events_;
    size_t batches_ = 0;
};

InotifyEvent ev(Kind kind, const fs::path& p, bool dir = false, const fs::path& old = {}) {
    return {kind, p.string(), old.string(), dir};
}

// The tree's log lines, said from its thread.
struct LogLines {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::function<void(const std::string&)> sink() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        };
    }
    std::vector<std::string> taken() {
        std::lock_guard lock(mutex);
        return lines;
    }
};

InotifyTree::Options quick(const fs::path& root) {
    InotifyTree::Options o;
    o.roots = {root.string()};
    o.coalesce = 30ms;
    return o;
}

TEST(InotifyTree, CreateWriteAttributesRenameAndDeleteWithinAndAcrossDirectories) {
    test::TempDir dir;
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    Collector got;
    InotifyTree tree(quick(dir.path()), got.callback());
    ASSERT_TRUE(tree.start());
    ASSERT_TRUE(tree.waitUntilReady(5s));
    EXPECT_EQ(tree.watchCount(), 3u);

    test::writeFile(dir / "a/x", "hello");
    EXPECT_TRUE(got.waitFor(ev(Kind::created, dir / "a/x")));
    EXPECT_TRUE(got.waitFor(ev(Kind::written, dir / "a/x")));
    ASSERT_EQ(chmod((dir / "a/x").c_str(), 0600), 0);
    EXPECT_TRUE(got.waitFor(ev(Kind::attributes, dir / "a/x")));
    fs::rename(dir / "a/x", dir / "a/y");
    EXPECT_TRUE(got.waitFor(ev(Kind::moved, dir / "a/y", false, dir / "a/x")));
    fs::rename(dir / "a/y", dir / "b/y");
    EXPECT_TRUE(got.waitFor(ev(Kind::moved, dir / "b/y", false, dir / "a/y")));
    fs::remove(dir / "b/y");
    EXPECT_TRUE(got.waitFor(ev(Kind::deleted, dir / "b/y")));
    fs::remove(dir / "b");
    EXPECT_TRUE(got.waitFor(ev(Kind::deleted, dir / "b", true)));
    for (int i = 0; i < 2000 && tree.watchCount() != 2; ++i) usleep(1000);
    EXPECT_EQ(tree.watchCount(), 2u);
    // A move pair never shows up as a delete and a create.
    EXPECT_EQ(got.count(Kind::deleted, (dir / "a/x").string()), 0u);
    EXPECT_EQ(got.count(Kind::created, (dir / "b/y").string()), 0u);
}

TEST(InotifyTree, BurstsArriveCoalescedWithRepeatsFolded) {
    test::TempDir dir;
    test::writeFile(dir / "f", "x");
    Collector got;
    auto options = quick(dir.path());
    options.coalesce = 300ms;
    InotifyTree tree(options, got.callback());
    ASSERT_TRUE(tree.start());
    ASSERT_TRUE(tree.waitUntilReady(5s));
    for (int i = 0; i < 200; ++i) chmod((dir / "f").c_str(), (i % 2) ? 0600 : 0644);
    for (int i = 0; i < 200; ++i) test::writeFile(dir / ("n" + std::to_string(i)), "x");
    ASSERT_TRUE(got.waitFor(ev(Kind::written, dir / "n199")));
    EXPECT_EQ(got.count(Kind::attributes, (dir / "f").string()), 1u);
    EXPECT_LE(got.batches(), 4u);  // 400 events in a handful of batches
}

TEST(InotifyTree, DirectoryMovesAndNewDirectoriesKeepPathsRight) {
    test::TempDir dir;
    test::TempDir outside;
    fs::create_directories(dir / "d/sub");
    fs::create_directories(outside / "in/deep");
    test::writeFile(outside / "in/deep/file", "x");
    Collector got;
    InotifyTree tree(quick(dir.path()), got.callback());
    ASSERT_TRUE(tree.start());
    ASSERT_TRUE(tree.waitUntilReady(5s));

    // Renamed directory: later events inside use the new paths.
    fs::rename(dir / "d", dir / "e");
    EXPECT_TRUE(got.waitFor(ev(Kind::moved, dir / "e", true, dir / "d")));
    test::writeFile(dir / "e/sub/f", "x");
    EXPECT_TRUE(got.waitFor(ev(Kind::created, dir / "e/sub/f")));

    // A new directory with a file made at once, before any watch could exist.
    fs::create_directories(dir / "n/m/k");
    test::writeFile(dir / "n/m/k/file", "x");
    EXPECT_TRUE(got.waitFor(ev(Kind::created, dir / "n", true)));
    EXPECT_TRUE(got.waitFor(ev(Kind::created, dir / "n/m/k/file")));
    test::writeFile(dir / "n/m/k/later", "x");
    EXPECT_TRUE(got.waitFor(ev(Kind::created, dir / "n/m/k/later")));

    // Moved in from outside: the whole subtree is created and watched.
    fs::rename(outside / "in", dir / "in");
    EXPECT_TRUE(got.waitFor(ev(Kind::created, dir / "in", true)));
    EXPECT_TRUE(got.waitFor(ev(Kind::created, dir / "in/deep", true)));
    EXPECT_TRUE(got.waitFor(ev(Kind::created, dir / "in/deep/file")));
    test::writeFile(dir / "in/deep/new", "x");
    EXPECT_TRUE(got.waitFor(ev(Kind::created, dir / "in/deep/new")));

    // Moved out: deleted, its watches dropped, nothing more heard from it.
    size_t before = tree.watchCount();
    fs::rename(dir / "in", outside / "gone");
    EXPECT_TRUE(got.waitFor(ev(Kind::deleted, dir / "in", true)));
    EXPECT_EQ(tree.watchCount(), before - 2);
    test::writeFile(outside / "gone/deep/ignored", "x");
    test::writeFile(dir / "marker", "x");
    EXPECT_TRUE(got.waitFor(ev(Kind::created, dir / "marker")));
    for (const auto& e : got.events()) EXPECT_EQ(e.path.find("ignored"), std::string::npos) << e.path;

    // To a hidden name is gone; back from it is new.
    fs::rename(dir / "marker", dir / ".marker");
    EXPECT_TRUE(got.waitFor(ev(Kind::deleted, dir / "marker")));
    fs::rename(dir / ".marker", dir / "back");
    EXPECT_TRUE(got.waitFor(ev(Kind::created, dir / "back")));
}

TEST(InotifyTree, HostileNamesSymlinksHiddenAndExcludedEntries) {
    test::TempDir dir;
    test::TempDir outside;
    fs::create_directories(dir / ".hidden");
    fs::create_directories(dir / "Trash/files");
    fs::create_directory_symlink(outside.path(), dir / "link");
    Collector got;
    auto options = quick(dir.path());
    options.excludedPaths = {(dir / "Trash").string()};
    InotifyTree tree(options, got.callback());
    ASSERT_TRUE(tree.start());
    ASSERT_TRUE(tree.waitUntilReady(5s));
    EXPECT_EQ(tree.watchCount(), 1u);  // the root only

    std::string raw = (dir.path() / "").string() + "bad\xff\xfe name";
    std::string newline = (dir.path() / "").string() + "two\nlines";
    test::writeFile(raw, "x");
    test::writeFile(newline, "x");
    EXPECT_TRUE(got.waitFor({Kind::created, raw, {}, false}));
    EXPECT_TRUE(got.waitFor({Kind::created, newline, {}, false}));
    fs::create_directory(raw + "dir");
    test::writeFile(raw + "dir/in\nside", "x");
    EXPECT_TRUE(got.waitFor({Kind::created, raw + "dir/in\nside", {}, false}));

    test::writeFile(outside / "through-link", "x");
    test::writeFile(dir / ".hidden/secret", "x");
    test::writeFile(dir / "Trash/files/trashed", "x");
    test::writeFile(dir / "visible", "x");
    EXPECT_TRUE(got.waitFor(ev(Kind::created, dir / "visible")));
    for (const auto& e : got.events()) {
        EXPECT_EQ(e.path.find("through-link"), std::string::npos);
        EXPECT_EQ(e.path.find("secret"), std::string::npos);
        EXPECT_EQ(e.path.find("trashed"), std::string::npos);
    }
}

TEST(InotifyTree, WatchLimitFallsBackToPeriodicRescansWithOneLogLine) {
    test::TempDir dir;
    for (const char* d : {"a", "b", "c", "d"}) fs::create_directories(dir / d / "sub");
    Collector got;
    LogLines log;
    auto options = quick(dir.path());
    options.maxWatches = 3;
    options.unwatchedRescanInterval = 100ms;
    options.log = log.sink();
    InotifyTree tree(options, got.callback());
    ASSERT_TRUE(tree.start());
    ASSERT_TRUE(tree.waitUntilReady(5s));
    EXPECT_EQ(tree.watchCount(), 3u);
    ASSERT_GT(tree.unwatchedCount(), 0u);

    // Every directory is either watched or inside a subtree that is rescanned:
    // find the rescanned tops from the events, twice over.
    auto until = std::chrono::steady_clock::now() + 5s;
    std::set<std::string> tops;
    while (std::chrono::steady_clock::now() < until) {
        tops.clear();
        size_t rounds = SIZE_MAX;
        for (const auto& e : got.events())
            if (e.kind == Kind::rescan) tops.insert(e.path);
        for (const auto& t : tops) rounds = std::min(rounds, got.count(Kind::rescan, t));
        if (!tops.empty() && rounds >= 2 && rounds != SIZE_MAX) break;
        usleep(10000);
    }
    EXPECT_EQ(tops.size(), tree.unwatchedCount());
    // Nine directories: three watched, the other six under a rescanned top.
    size_t covered = 0;
    for (auto& p : fs::recursive_directory_iterator(dir.path())) {
        std::string s = p.path().string();
        for (const auto& t : tops)
            if (s == t || s.rfind(t + "/", 0) == 0) {
                ++covered;
                break;
            }
    }
    EXPECT_EQ(covered, 8u - 2u);  // 8 below the root, two of them watched
    // Watched directories still report normally.
    test::writeFile(dir / "probe", "x");
    EXPECT_TRUE(got.waitFor(ev(Kind::created, dir / "probe")));
    const std::vector<std::string> lines = log.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("[watch] ", 0), 0u);
}

TEST(InotifyTree, OverflowRescansEveryRootAndResyncsWatches) {
    test::TempDir one;
    test::TempDir two;
    fs::create_directories(one / "x");
    Collector got;
    auto options = quick(one.path());
    options.roots.push_back(two.path().string());
    options.roots.push_back((one / "x").string());  // inside another root: dropped
    InotifyTree tree(options, got.callback());
    ASSERT_TRUE(tree.start());
    ASSERT_TRUE(tree.waitUntilReady(5s));
    EXPECT_EQ(tree.watchCount(), 3u);
    tree.simulateOverflow();
    EXPECT_TRUE(got.waitFor({Kind::rescan, one.path().string(), {}, false}));
    EXPECT_TRUE(got.waitFor({Kind::rescan, two.path().string(), {}, false}));
    EXPECT_EQ(got.count(Kind::rescan, (one / "x").string()), 0u);
    EXPECT_EQ(tree.watchCount(), 3u);
    test::writeFile(one / "x/after", "x");
    EXPECT_TRUE(got.waitFor(ev(Kind::created, one / "x/after")));
}

TEST(InotifyTree, StopDropsPendingEventsAndCallsBackNoMore) {
    test::TempDir dir;
    Collector got;
    auto options = quick(dir.path());
    options.coalesce = 10s;
    auto tree = std::make_unique<InotifyTree>(options, got.callback());
    ASSERT_TRUE(tree->start());
    ASSERT_TRUE(tree->waitUntilReady(5s));
    for (int i = 0; i < 50; ++i) test::writeFile(dir / ("f" + std::to_string(i)), "x");
    usleep(20000);
    tree->stop();
    EXPECT_EQ(got.batches(), 0u);
    tree->stop();  // twice is harmless
    // A restart watches afresh.
    options.coalesce = 30ms;
    tree = std::make_unique<InotifyTree>(options, got.callback());
    ASSERT_TRUE(tree->start());
    ASSERT_TRUE(tree->waitUntilReady(5s));
    test::writeFile(dir / "again", "x");
    EXPECT_TRUE(got.waitFor(ev(Kind::created, dir / "again")));
    tree.reset();
    size_t batches = got.batches();
    test::writeFile(dir / "late", "x");
    usleep(100000);
    EXPECT_EQ(got.batches(), batches);
}

// stop() from the callback only asks the thread to end: destroying the tree
// afterwards joins it, so the thread never runs on in a tree that is gone.
TEST(InotifyTree, StopFromTheCallbackLeavesTheThreadToTheDestructor) {
    test::TempDir dir;
    std::mutex mutex;
    std::condition_variable changed;
    bool called = false, destroyed = false, returned = false;
    int calls = 0;
    InotifyTree* raw = nullptr;
    auto tree = std::make_unique<InotifyTree>(quick(dir.path()), [&](std::vector<InotifyEvent>) {
        std::unique_lock lock(mutex);
        if (calls++ > 0) return;
        raw->stop();
        called = true;
        changed.notify_all();
        // A tree that let this thread go would be destroyed meanwhile; one
        // that joins it waits here until the wait ends.
        changed.wait_for(lock, 300ms, [&] { return destroyed; });
        returned = true;
    });
    raw = tree.get();
    ASSERT_TRUE(tree->start());
    ASSERT_TRUE(tree->waitUntilReady(5s));
    test::writeFile(dir / "x", "x");
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 5s, [&] { return called; }));
    }
    tree.reset();
    std::lock_guard lock(mutex);
    destroyed = true;
    changed.notify_all();
    EXPECT_TRUE(returned);
    EXPECT_EQ(calls, 1);
}

// The owner's walk places the first watches: events in a folder arrive from
// the moment its watch is placed, paths follow moves, and the limit and a
// missing root fall back to rescans as on the tree's own pass.
TEST(InotifyTree, WatchesPlacedByTheOwnersWalkAreTakenOver) {
    test::TempDir dir;
    const fs::path home = dir / "home", later = dir / "later";
    fs::create_directories(home / "a/sub");
    fs::create_directories(home / "b");
    Collector got;
    LogLines log;
    InotifyTree::Options options;
    options.roots = {home.string(), later.string()};
    options.coalesce = 30ms;
    options.maxWatches = 3;
    options.unwatchedRescanInterval = 100ms;
    options.ownerPlacesFirstWatches = true;
    options.log = log.sink();
    InotifyTree tree(options, got.callback());
    ASSERT_TRUE(tree.start());
    EXPECT_FALSE(tree.waitUntilReady(50ms));
    EXPECT_EQ(tree.watchCount(), 0u);  // the tree does not walk by itself
    using Result = InotifyTree::WatchResult;
    ASSERT_EQ(tree.watchDirectory(home.string()), Result::watched);
    test::writeFile(home / "early", "x");
    EXPECT_TRUE(got.waitFor(ev(Kind::created, home / "early")));
    EXPECT_EQ(tree.watchDirectory((home / "a").string()), Result::watched);
    EXPECT_EQ(tree.watchDirectory((home / "a/sub").string()), Result::watched);
    EXPECT_EQ(tree.watchDirectory((home / "b").string()), Result::unwatched);
    EXPECT_EQ(tree.watchDirectory(later.string()), Result::failed);
    tree.firstWatchesPlaced();
    ASSERT_TRUE(tree.waitUntilReady(5s));
    EXPECT_EQ(tree.watchCount(), 3u);
    EXPECT_EQ(tree.unwatchedCount(), 1u);

    fs::rename(home / "a", home / "c");
    test::writeFile(home / "c/sub/x", "x");
    EXPECT_TRUE(got.waitFor(ev(Kind::created, home / "c/sub/x")));
    EXPECT_TRUE(got.waitFor({Kind::rescan, (home / "b").string(), {}, false}));
    fs::create_directories(later);
    EXPECT_TRUE(got.waitFor({Kind::rescan, later.string(), {}, false}));
    const std::vector<std::string> lines = log.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("watch limit at 3 watches"), std::string::npos) << lines[0];
}

TEST(InotifyTree, MissingRootIsPickedUpWhenItAppears) {
    test::TempDir dir;
    Collector got;
    auto options = quick(dir / "later");
    options.unwatchedRescanInterval = 50ms;
    InotifyTree tree(options, got.callback());
    ASSERT_TRUE(tree.start());
    ASSERT_TRUE(tree.waitUntilReady(5s));
    EXPECT_EQ(tree.watchCount(), 0u);
    fs::create_directories(dir / "later");
    EXPECT_TRUE(got.waitFor({Kind::rescan, (dir / "later").string(), {}, false}));
    test::writeFile(dir / "later/f", "x");
    EXPECT_TRUE(got.waitFor(ev(Kind::created, dir / "later/f")));
    EXPECT_FALSE(InotifyTree::isPseudoFileSystem(dir.path().string()));
    if (fs::exists("/proc/self")) {
        EXPECT_TRUE(InotifyTree::isPseudoFileSystem("/proc"));
    }
}

}  // namespace
}  // namespace qm
