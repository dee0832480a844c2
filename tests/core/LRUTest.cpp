#include "core/LRU.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace qm {
namespace {

using Cache = LRU<std::string, std::shared_ptr<std::string>>;

std::shared_ptr<std::string> value(const std::string& s) {
    return std::make_shared<std::string>(s);
}

TEST(LRUTest, EvictsTheLeastRecentlyUsedAndReportsIt) {
    Cache cache;
    std::vector<std::string> removed;
    cache.removed = [&](std::shared_ptr<std::string> v) { removed.push_back(*v); };

    cache.set("a", value("A"), 2);
    cache.set("b", value("B"), 2);
    cache.set("c", value("C"), 2);
    EXPECT_EQ(removed, std::vector<std::string>{"A"});
    EXPECT_EQ(cache.get("a"), nullptr);
    ASSERT_NE(cache.get("b"), nullptr);
    EXPECT_EQ(**cache.get("c"), "C");
    EXPECT_EQ(cache.size(), 2u);

    // A get moves an entry to the front: b goes next, not a.
    Cache second;
    removed.clear();
    second.removed = [&](std::shared_ptr<std::string> v) { removed.push_back(*v); };
    second.set("a", value("A"), 2);
    second.set("b", value("B"), 2);
    EXPECT_NE(second.get("a"), nullptr);
    second.set("c", value("C"), 2);
    EXPECT_EQ(removed, std::vector<std::string>{"B"});
    EXPECT_EQ(second.keys(), (std::vector<std::string>{"c", "a"}));
}

TEST(LRUTest, ReplacingAKeyNeverEvictsAndRemoveReports) {
    Cache cache;
    std::vector<std::string> removed;
    cache.removed = [&](std::shared_ptr<std::string> v) { removed.push_back(*v); };
    cache.set("a", value("A"), 2);
    cache.set("b", value("B"), 2);
    std::weak_ptr<std::string> oldA = *cache.peek("a");
    cache.set("a", value("A2"), 2);
    EXPECT_TRUE(removed.empty());
    EXPECT_TRUE(oldA.expired());  // released, without the callback
    EXPECT_EQ(cache.keys(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(**cache.get("a"), "A2");

    cache.remove("b");
    EXPECT_EQ(removed, std::vector<std::string>{"B"});
    cache.remove("b");
    cache.remove("never");
    EXPECT_EQ(removed.size(), 1u);
    EXPECT_EQ(cache.keys(), std::vector<std::string>{"a"});

    // noEvict lets the cache grow past its capacity.
    for (int i = 0; i < 5; ++i)
        cache.set("k" + std::to_string(i), value("v"), 2, true);
    EXPECT_EQ(cache.size(), 6u);
    EXPECT_EQ(removed.size(), 1u);
    // Without it, one entry goes per insertion, however far over capacity.
    cache.set("z", value("Z"), 2);
    EXPECT_EQ(cache.size(), 6u);
    EXPECT_EQ(removed.back(), "A2");
}

TEST(LRUTest, CallbackMayUseTheCache) {
    Cache cache;
    int calls = 0;
    cache.removed = [&](std::shared_ptr<std::string> v) {
        ++calls;
        // A tile pool puts evicted tiles back under another key.
        if (*v == "A") cache.set("recycled", v, 100, true);
    };
    cache.set("a", value("A"), 1);
    cache.set("b", value("B"), 1);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_NE(cache.peek("recycled"), nullptr);
}

// Against a plain list kept in order of use.
TEST(LRUTest, RandomOperationsMatchAListModel) {
    std::mt19937 rng(99);
    LRU<int, int> cache;
    std::vector<int> removedValues, expectedRemoved;
    cache.removed = [&](int v) { removedValues.push_back(v); };
    std::list<std::pair<int, int>> model;  // front = most recent
    auto find = [&](int k) {
        return std::find_if(model.begin(), model.end(), [k](const auto& e) { return e.first == k; });
    };
    for (int step = 0; step < 20000; ++step) {
        int key = static_cast<int>(rng() % 12);
        size_t capacity = rng() % 8;
        switch (rng() % 4) {
            case 0: {
                int* got = cache.get(key);
                auto it = find(key);
                ASSERT_EQ(got != nullptr, it != model.end());
                if (got) {
                    ASSERT_EQ(*got, it->second);
                    model.splice(model.begin(), model, it);
                }
                break;
            }
            case 1:
            case 2: {
                bool noEvict = rng() % 5 == 0;
                int v = step;
                cache.set(key, v, capacity, noEvict);
                auto it = find(key);
                if (it != model.end()) {
                    it->second = v;
                    model.splice(model.begin(), model, it);
                } else {
                    if (!noEvict && !model.empty() && model.size() >= capacity) {
                        expectedRemoved.push_back(model.back().second);
                        model.pop_back();
                    }
                    model.emplace_front(key, v);
                }
                break;
            }
            case 3: {
                cache.remove(key);
                auto it = find(key);
                if (it != model.end()) {
                    expectedRemoved.push_back(it->second);
                    model.erase(it);
                }
                break;
            }
        }
        ASSERT_EQ(removedValues, expectedRemoved);
        std::vector<int> keys;
        for (const auto& e : model)
            keys.push_back(e.first);
        ASSERT_EQ(cache.keys(), keys);
    }
}

}  // namespace
}  // namespace qm
