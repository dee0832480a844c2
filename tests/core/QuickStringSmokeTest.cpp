#include <gtest/gtest.h>

#include "core/QuickString.h"

TEST(QuickStringSmoke, Basics) {
    auto a = qm::QuickString::path("/System/Volumes/Data/Users/a/");
    EXPECT_EQ(a.utf8(), "/Users/a");
    EXPECT_TRUE(qm::QuickString::literal("a2") < qm::QuickString::literal("a10"));
}
