#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/InotifyTree.h"
#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Starting, overflowing and stopping while another thread keeps changing the
// tree: no race, no callback after stop() returns, no hang.
TEST(InotifyTreeConcurrency, StopAndOverflowWhileEventsFlow) {
    test::TempDir dir;
    fs::create_directories(dir / "a/b");
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 0; writing; ++i) {
            std::string name = "f" + std::to_string(i % 50);
            test::writeFile(dir / "a/b" / name, "x");
            fs::create_directories(dir / ("d" + std::to_string(i % 7)) / "e");
            if (i % 3 == 0) fs::remove_all(dir / ("d" + std::to_string((i + 3) % 7)));
        }
    });
    for (int round = 0; round < 8; ++round) {
        std::atomic<bool> stopped{false};
        std::atomic<int> lateCalls{0};
        std::atomic<int> calls{0};
        InotifyTree::Options options;
        options.roots = {dir.path().string()};
        options.coalesce = 5ms;
        options.maxWatches = (round % 2) ? 3 : 0;
        options.unwatchedRescanInterval = 5ms;
        options.log = [](const std::string&) {};
        InotifyTree tree(options, [&](std::vector<InotifyEvent> batch) {
            if (stopped) ++lateCalls;
            calls += !batch.empty();
        });
        ASSERT_TRUE(tree.start());
        if (round % 3 == 0) {
            ASSERT_TRUE(tree.waitUntilReady(5s));
        }
        tree.simulateOverflow();
        for (int i = 0; i < 20 && calls == 0; ++i) usleep(2000);
        (void)tree.watchCount();
        tree.stop();
        stopped = true;
        usleep(2000);
        EXPECT_EQ(lateCalls, 0);
    }
    writing = false;
    writer.join();
}

}  // namespace
}  // namespace qm
