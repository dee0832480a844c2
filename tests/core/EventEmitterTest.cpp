#include "core/EventEmitter.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qm {
namespace {

TEST(EventEmitterTest, ReleasedSubscriptionsAreSkippedAndPrunedOthersCalledInOrder) {
    EventEmitter<> emitter;
    std::vector<std::string> calls;
    std::vector<std::optional<Subscription>> held;
    for (const char* name : {"a", "b", "c"})
        held.emplace_back(emitter.subscribe([name, &calls] { calls.push_back(name); }));
    // One subscriber may subscribe again; each record is called.
    Subscription again = emitter.subscribe([&calls] { calls.push_back("a2"); });
    emitter.emit();
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "b", "c", "a2"}));
    EXPECT_EQ(emitter.recordCount(), 4u);

    held[1].reset();
    EXPECT_EQ(emitter.recordCount(), 4u);  // nothing happens until the next emission
    calls.clear();
    emitter.emit();
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "c", "a2"}));
    EXPECT_EQ(emitter.recordCount(), 3u);

    held[0]->reset();  // resetting the handle ends it as destroying it does
    EXPECT_FALSE(held[0]->isActive());
    held[2].reset();
    again = Subscription();  // assigning over a handle ends the one it held
    calls.clear();
    emitter.emit();
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(emitter.recordCount(), 0u);
}

TEST(EventEmitterTest, HandlesMoveReleaseTheirCallbackAtOnceAndMayOutliveTheEmitter) {
    auto captured = std::make_shared<int>(0);
    std::weak_ptr<int> watch = captured;
    std::optional<EventEmitter<>> emitter(std::in_place);
    int calls = 0;
    Subscription first = emitter->subscribe([captured = std::move(captured), &calls] { ++calls; });
    EXPECT_TRUE(first.isActive());

    // Moving hands the subscription over; the moved-from handle holds nothing.
    Subscription moved = std::move(first);
    EXPECT_FALSE(first.isActive());  // NOLINT(bugprone-use-after-move): checking the moved-from state
    emitter->emit();
    EXPECT_EQ(calls, 1);

    // What the callback captured goes with the handle, before any emission.
    EXPECT_FALSE(watch.expired());
    moved.reset();
    EXPECT_TRUE(watch.expired());
    emitter->emit();
    EXPECT_EQ(calls, 1);

    // A handle whose emitter is gone ends without touching it.
    Subscription late = emitter->subscribe([&calls] { ++calls; });
    emitter.reset();
    late.reset();
    EXPECT_EQ(calls, 1);
}

TEST(EventEmitterTest, PayloadIsPassedToEveryCallback) {
    EventEmitter<std::string> emitter;
    std::vector<std::string> got;
    Subscription one = emitter.subscribe([&got](const std::string& s) { got.push_back("1:" + s); });
    Subscription two = emitter.subscribe([&got](const std::string& s) { got.push_back("2:" + s); });
    emitter.emit(std::string("Tagged 3 Files"));
    EXPECT_EQ(got, (std::vector<std::string>{"1:Tagged 3 Files", "2:Tagged 3 Files"}));
}

TEST(EventEmitterTest, RecordsAddedDuringAnEmissionWaitForTheNext) {
    EventEmitter<> emitter;
    int outer = 0, inner = 0;
    std::vector<Subscription> added;
    Subscription subscription = emitter.subscribe([&] {
        ++outer;
        added.push_back(emitter.subscribe([&] { ++inner; }));
    });
    emitter.emit();
    EXPECT_EQ(outer, 1);
    EXPECT_EQ(inner, 0);
    emitter.emit();
    EXPECT_EQ(outer, 2);
    EXPECT_EQ(inner, 1);  // the first added record; the second waits again
    EXPECT_EQ(emitter.recordCount(), 3u);
}

TEST(EventEmitterTest, CallbacksMayReleaseSubscriptionsEmitAgainOrDestroyTheEmitter) {
    // A subscription released by an earlier callback is not called.
    {
        EventEmitter<> emitter;
        std::vector<int> calls;
        Subscription second;
        Subscription first = emitter.subscribe([&] {
            calls.push_back(1);
            second.reset();
        });
        second = emitter.subscribe([&] { calls.push_back(2); });
        emitter.emit();
        EXPECT_EQ(calls, std::vector<int>{1});
        emitter.emit();
        EXPECT_EQ(calls, (std::vector<int>{1, 1}));
        EXPECT_EQ(emitter.recordCount(), 1u);
    }
    // A callback that ends its own subscription finishes its run with what it
    // captured intact, and is not called again.
    {
        EventEmitter<> emitter;
        std::vector<std::string> calls;
        Subscription self;
        self = emitter.subscribe([&, name = std::string("once")] {
            self.reset();
            calls.push_back(name);
        });
        emitter.emit();
        emitter.emit();
        EXPECT_EQ(calls, std::vector<std::string>{"once"});
    }
    // Nested emission that prunes while the outer one is running.
    {
        EventEmitter<int> emitter;
        std::vector<int> calls;
        Subscription dies;
        Subscription keep = emitter.subscribe([&](int depth) {
            calls.push_back(depth);
            if (depth == 0) {
                dies.reset();
                emitter.emit(1);
            }
        });
        dies = emitter.subscribe([&](int depth) { calls.push_back(100 + depth); });
        Subscription last = emitter.subscribe([&](int depth) { calls.push_back(200 + depth); });
        emitter.emit(0);
        EXPECT_EQ(calls, (std::vector<int>{0, 1, 201, 200}));
    }
    // A callback that destroys the emitter's owner.
    {
        auto emitter = std::make_unique<EventEmitter<>>();
        int calls = 0;
        Subscription one = emitter->subscribe([&] {
            ++calls;
            emitter.reset();
        });
        Subscription two = emitter->subscribe([&] { ++calls; });
        emitter->emit();
        EXPECT_EQ(calls, 2);
        EXPECT_EQ(emitter, nullptr);
    }
}

}  // namespace
}  // namespace qm
