#include "core/QuickString.h"

#include <gtest/gtest.h>

#include "support/AllocationCounter.h"

namespace qm {
namespace {

TEST(QuickStringAllocationTest, ComponentsAllocateOneBlockEachAndHashingNothing) {
    QuickString path = QuickString::literal("/home/user/Pictures/2023/Trip/Day 1/raw/IMG_1234/x/y.jpg");
    QuickString same = QuickString::bytes(std::string(path.utf8()));
    (void)path.string();

    (void)emptyString();  // made once per process; the empty component shares it
    long before = test::allocationCount();
    auto parts = path.components();
    long used = test::allocationCount() - before;
    ASSERT_EQ(parts.size(), 11u);
    // One block per non-empty component, plus the list itself; no decoded text.
    EXPECT_EQ(used, static_cast<long>(parts.size()));

    before = test::allocationCount();
    bool equal = path == same;
    auto h = std::hash<QuickString>{}(same);
    bool less = path < same;
    QuickString copy = same;
    EXPECT_EQ(test::allocationCount() - before, 0);
    EXPECT_TRUE(equal);
    EXPECT_FALSE(less);
    EXPECT_EQ(h, std::hash<QuickString>{}(path));
    // A byte-built value decodes only when asked, and only once.
    before = test::allocationCount();
    (void)parts[3].string();
    (void)parts[3].string();
    EXPECT_EQ(test::allocationCount() - before, 0);  // valid UTF-8: the text is the bytes
}

}  // namespace
}  // namespace qm
