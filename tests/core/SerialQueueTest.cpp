#include "core/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "core/MainQueue.h"

namespace qm {
namespace {

TEST(SerialQueueTest, RunsInOrderOffThreadAndDrainsOnDestruction) {
    std::vector<int> seen;  // touched only on the queue, read after join
    std::thread::id worker;
    {
        SerialQueue q("test");
        EXPECT_EQ(q.label(), "test");
        EXPECT_FALSE(q.isCurrent());
        for (int i = 0; i < 1000; ++i)
            q.async([&, i] {
                if (i == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
                seen.push_back(i);
                worker = std::this_thread::get_id();
            });
        // A task queued from the queue itself during the drain still runs.
        q.async([&] { q.async([&] { seen.push_back(-1); }); });
    }
    ASSERT_EQ(seen.size(), 1001u);
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(seen[i], i);
    EXPECT_EQ(seen.back(), -1);
    EXPECT_NE(worker, std::this_thread::get_id());
}

TEST(SerialQueueTest, SyncWaitsAndRunsInlineOnItsOwnThread) {
    SerialQueue q("sync");
    int value = 0;
    q.async([&] { value = 1; });
    q.sync([&] { value *= 10; });
    EXPECT_EQ(value, 10);
    q.sync([&] { q.sync([&] { value = 5; }); });  // no deadlock
    EXPECT_EQ(value, 5);
}

// Confinement checks: a task knows its queue (a task of another queue, or the
// main thread, does not), and debug builds stop a caller off the queue.
TEST(SerialQueueTest, CurrentQueueAndConfinementCheck) {
    // The queues' threads do not survive a fork: the child runs the test afresh.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SerialQueue a("a"), b("b");
    EXPECT_EQ(SerialQueue::current(), nullptr);
    const SerialQueue* seenOnA = nullptr;
    const SerialQueue* seenOnBFromA = nullptr;
    a.sync([&] {
        seenOnA = SerialQueue::current();
        QM_ASSERT_ON_QUEUE(&a);
        b.sync([&] { seenOnBFromA = SerialQueue::current(); });
    });
    EXPECT_EQ(seenOnA, &a);
    EXPECT_EQ(seenOnBFromA, &b);
    std::thread([] { EXPECT_EQ(SerialQueue::current(), nullptr); }).join();
#ifdef NDEBUG
    QM_ASSERT_ON_QUEUE(&a);  // checks nothing in release builds
#else
    EXPECT_DEATH(QM_ASSERT_ON_QUEUE(&a), "must run on its serial queue, runs on another thread");
    EXPECT_DEATH(b.sync([&] { QM_ASSERT_ON_QUEUE(&a); }), "runs on b");
#endif
}

TEST(MainQueueTest, PostFromThreadsRunPendingAndWaker) {
    MainQueue mq;
    EXPECT_TRUE(mq.isMainThread());
    std::atomic<int> wakes{0};
    mq.setWaker([&] { ++wakes; });
    std::vector<int> order;
    mq.post([&] { order.push_back(1); });
    mq.post([&] { order.push_back(2); });
    EXPECT_EQ(wakes.load(), 1);  // only the empty-to-non-empty post wakes
    EXPECT_EQ(mq.pendingCount(), 2u);
    // A task posted while running waits for the next turn.
    mq.post([&] {
        mq.post([&] { order.push_back(4); });
        order.push_back(3);
    });
    EXPECT_EQ(mq.runPending(), 3u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(mq.runPending(), 1u);
    EXPECT_EQ(order.back(), 4);

    int fromThreads = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i)
                mq.post([&] { ++fromThreads; });
        });
    EXPECT_TRUE(mq.runUntil([&] { return fromThreads == 400; }, std::chrono::seconds(20)));
    for (auto& th : threads)
        th.join();
    EXPECT_FALSE(mq.runUntil([] { return false; }, std::chrono::milliseconds(20)));

    auto owner = std::make_shared<int>(7);
    int got = 0;
    mq.postWeak(std::weak_ptr<int>(owner), [&](int& v) { got = v; });
    mq.postWeak(std::weak_ptr<int>(owner), [&](int&) { got = -1; });
    mq.runPending();
    EXPECT_EQ(got, -1);
    mq.postWeak(std::weak_ptr<int>(owner), [&](int&) { got = 99; });
    owner.reset();
    mq.runPending();
    EXPECT_EQ(got, -1);  // the owner is gone: nothing runs
}

}  // namespace
}  // namespace qm
