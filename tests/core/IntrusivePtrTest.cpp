#include "core/IntrusivePtr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

namespace qm {
namespace {

std::atomic<int> alive{0};
std::atomic<int> deleted{0};

// A private destructor, as the grid's cells have: only the last release may delete.
class Counted : public ThreadSafeRefCounted<Counted> {
public:
    explicit Counted(int v) : value(v) { ++alive; }
    Counted(const Counted& o) : ThreadSafeRefCounted<Counted>(o), value(o.value) { ++alive; }
    int value;

private:
    friend class ThreadSafeRefCounted<Counted>;
    ~Counted() {
        --alive;
        ++deleted;
    }
};

TEST(IntrusivePtrTest, OwnershipFollowsCopiesMovesAndAssignments) {
    alive = 0;
    deleted = 0;
    {
        IntrusivePtr<Counted> a(new Counted(1));
        EXPECT_TRUE(a->isUnique());
        IntrusivePtr<Counted> b = a;
        EXPECT_FALSE(a->isUnique());
        EXPECT_EQ(a, b);

        // A copy of the object is a new object with one owner, not a second
        // owner of the old one.
        IntrusivePtr<Counted> copy(new Counted(*a));
        EXPECT_TRUE(copy->isUnique());
        EXPECT_FALSE(a->isUnique());
        EXPECT_EQ(alive, 2);

        IntrusivePtr<Counted> moved = std::move(b);
        EXPECT_FALSE(b);  // a moved-from pointer is empty
        EXPECT_FALSE(a->isUnique());

        // Self-assignment, and assigning a pointer that the old one keeps alive.
        auto& self = a;
        a = self;
        EXPECT_EQ(a->value, 1);
        a = std::move(self);
        EXPECT_EQ(a->value, 1);
        moved = a;
        EXPECT_EQ(alive, 2);

        copy = a;  // the copy had one owner: it goes
        EXPECT_EQ(deleted, 1);
        moved.reset();
        copy = nullptr;
        EXPECT_TRUE(a->isUnique());
        EXPECT_EQ(alive, 1);

        IntrusivePtr<Counted> empty;
        EXPECT_FALSE(empty);
        EXPECT_EQ(empty, nullptr);
        empty = std::move(a);
        EXPECT_EQ(empty->value, 1);
        EXPECT_EQ(alive, 1);
    }
    EXPECT_EQ(alive, 0);
    EXPECT_EQ(deleted, 2);
}

// Many threads copying and dropping pointers to one object: it is deleted
// exactly once, after the last of them.
TEST(IntrusivePtrTest, SharedAcrossThreadsIsDeletedOnce) {
    alive = 0;
    deleted = 0;
    constexpr int objects = 200;
    std::vector<IntrusivePtr<Counted>> shared;
    for (int i = 0; i < objects; ++i)
        shared.emplace_back(new Counted(i));
    std::vector<std::thread> threads;
    std::atomic<long> sum{0};
    for (int t = 0; t < 4; ++t) {
        // Each thread holds its own copies; the originals are dropped meanwhile.
        std::vector<IntrusivePtr<Counted>> mine = shared;
        threads.emplace_back([mine = std::move(mine), &sum]() mutable {
            for (int round = 0; round < 50; ++round)
                for (const auto& p : mine) {
                    IntrusivePtr<Counted> extra = p;
                    sum += extra->value;
                }
            mine.clear();
        });
    }
    shared.clear();
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(sum, 4L * 50 * (objects * (objects - 1) / 2));
    EXPECT_EQ(alive, 0);
    EXPECT_EQ(deleted, objects);
}

}  // namespace
}  // namespace qm
