#include "core/QuickString.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

// Counts every allocation of this test program. GCC cannot see that the
// pair below replaces the global one, hence the pragma.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t n) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace qm {
namespace {

TEST(QuickStringAllocationTest, ComponentsAllocateOneBlockEachAndHashingNothing) {
    QuickString path = QuickString::literal("/home/user/Pictures/2023/Trip/Day 1/raw/IMG_1234/x/y.jpg");
    QuickString same = QuickString::bytes(std::string(path.utf8()));
    (void)path.string();

    (void)emptyString();  // made once per process; the empty component shares it
    long before = allocations.load();
    auto parts = path.components();
    long used = allocations.load() - before;
    ASSERT_EQ(parts.size(), 11u);
    // One block per non-empty component, plus the list itself; no decoded text.
    EXPECT_EQ(used, static_cast<long>(parts.size()));

    before = allocations.load();
    bool equal = path == same;
    auto h = std::hash<QuickString>{}(same);
    bool less = path < same;
    QuickString copy = same;
    EXPECT_EQ(allocations.load() - before, 0);
    EXPECT_TRUE(equal);
    EXPECT_FALSE(less);
    EXPECT_EQ(h, std::hash<QuickString>{}(path));
    // A byte-built value decodes only when asked, and only once.
    before = allocations.load();
    (void)parts[3].string();
    (void)parts[3].string();
    EXPECT_EQ(allocations.load() - before, 0);  // valid UTF-8: the text is the bytes
}

}  // namespace
}  // namespace qm
