#include "core/EventEmitter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace qm {
namespace {

struct Subscriber {
    std::string name;
};

TEST(EventEmitterTest, ReleasedSubscribersAreSkippedAndPrunedOthersCalledInOrder) {
    EventEmitter<> emitter;
    std::vector<std::string> calls;
    auto a = std::make_shared<Subscriber>(Subscriber{"a"});
    auto b = std::make_shared<Subscriber>(Subscriber{"b"});
    auto c = std::make_shared<Subscriber>(Subscriber{"c"});
    for (const auto& s : {a, b, c}) {
        std::weak_ptr<Subscriber> weak = s;
        emitter.subscribe(s, [weak, &calls] {
            if (auto self = weak.lock()) calls.push_back(self->name);
        });
    }
    // The same object may subscribe again; each record is called.
    emitter.subscribe(a, [&calls] { calls.push_back("a2"); });
    emitter.emit();
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "b", "c", "a2"}));
    EXPECT_EQ(emitter.recordCount(), 4u);

    b.reset();
    EXPECT_EQ(emitter.recordCount(), 4u);  // nothing happens until the next emission
    calls.clear();
    emitter.emit();
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "c", "a2"}));
    EXPECT_EQ(emitter.recordCount(), 3u);

    a.reset();
    c.reset();
    calls.clear();
    emitter.emit();
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(emitter.recordCount(), 0u);
}

TEST(EventEmitterTest, PayloadIsPassedToEveryCallback) {
    EventEmitter<std::string> emitter;
    auto owner = std::make_shared<int>(0);
    std::vector<std::string> got;
    emitter.subscribe(owner, [&got](const std::string& s) { got.push_back("1:" + s); });
    emitter.subscribe(owner, [&got](const std::string& s) { got.push_back("2:" + s); });
    emitter.emit(std::string("Tagged 3 Files"));
    EXPECT_EQ(got, (std::vector<std::string>{"1:Tagged 3 Files", "2:Tagged 3 Files"}));
}

TEST(EventEmitterTest, RecordsAddedDuringAnEmissionWaitForTheNext) {
    EventEmitter<> emitter;
    auto owner = std::make_shared<int>(0);
    int outer = 0, inner = 0;
    emitter.subscribe(owner, [&] {
        ++outer;
        emitter.subscribe(owner, [&] { ++inner; });
    });
    emitter.emit();
    EXPECT_EQ(outer, 1);
    EXPECT_EQ(inner, 0);
    emitter.emit();
    EXPECT_EQ(outer, 2);
    EXPECT_EQ(inner, 1);  // the first added record; the second waits again
    EXPECT_EQ(emitter.recordCount(), 3u);
}

TEST(EventEmitterTest, CallbacksMayReleaseSubscribersEmitAgainOrDestroyTheEmitter) {
    // A subscriber released by an earlier callback is not called.
    {
        EventEmitter<> emitter;
        auto first = std::make_shared<int>(1);
        auto second = std::make_shared<int>(2);
        std::vector<int> calls;
        emitter.subscribe(first, [&] {
            calls.push_back(1);
            second.reset();
        });
        emitter.subscribe(second, [&] { calls.push_back(2); });
        emitter.emit();
        EXPECT_EQ(calls, std::vector<int>{1});
        emitter.emit();
        EXPECT_EQ(calls, (std::vector<int>{1, 1}));
        EXPECT_EQ(emitter.recordCount(), 1u);
    }
    // Nested emission that prunes while the outer one is running.
    {
        EventEmitter<int> emitter;
        auto keep = std::make_shared<int>(0);
        auto dies = std::make_shared<int>(0);
        std::vector<int> calls;
        emitter.subscribe(keep, [&](int depth) {
            calls.push_back(depth);
            if (depth == 0) {
                dies.reset();
                emitter.emit(1);
            }
        });
        emitter.subscribe(dies, [&](int depth) { calls.push_back(100 + depth); });
        emitter.subscribe(keep, [&](int depth) { calls.push_back(200 + depth); });
        emitter.emit(0);
        EXPECT_EQ(calls, (std::vector<int>{0, 1, 201, 200}));
    }
    // A callback that destroys the emitter's owner.
    {
        auto emitter = std::make_unique<EventEmitter<>>();
        auto owner = std::make_shared<int>(0);
        int calls = 0;
        emitter->subscribe(owner, [&] {
            ++calls;
            emitter.reset();
        });
        emitter->subscribe(owner, [&] { ++calls; });
        emitter->emit();
        EXPECT_EQ(calls, 2);
        EXPECT_EQ(emitter, nullptr);
    }
}

}  // namespace
}  // namespace qm
