#include "core/QuickString.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace qm {
namespace {

// Trees are built on a background queue and handed to the main thread, so one
// value's handles are copied, dropped and decoded on several threads at once.
TEST(QuickStringConcurrencyTest, SharedValuesAcrossThreads) {
    std::vector<QuickString> shared;
    for (int i = 0; i < 64; ++i)
        shared.push_back(QuickString::bytes("/p/caf\xE9-" + std::to_string(i)));
    const std::string expectedPrefix = "/p/caf\xEF\xBF\xBD-";
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&shared, &expectedPrefix, t] {
            for (int round = 0; round < 200; ++round) {
                std::vector<QuickString> mine(shared.begin(), shared.end());
                for (size_t i = 0; i < mine.size(); ++i) {
                    const QuickString& s = mine[(i + static_cast<size_t>(t)) % mine.size()];
                    EXPECT_TRUE(s.string().starts_with(expectedPrefix));
                    EXPECT_EQ(s, shared[(i + static_cast<size_t>(t)) % mine.size()]);
                }
                QuickString moved = std::move(mine.back());
                mine.pop_back();
                (void)starString();
                (void)emptyString();
                QuickString e;
                e = moved;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    for (const auto& s : shared)
        EXPECT_TRUE(s.string().starts_with(expectedPrefix));
}

}  // namespace
}  // namespace qm
