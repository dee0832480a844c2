#pragma once

// Counts every allocation made through the global operator new of the program
// that includes this header. Include it in exactly one source file of a test or
// benchmark program: it replaces the global allocation functions, and a
// program may replace them only once.
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace qm::test {
inline std::atomic<long> allocationCounter{0};
// Allocations made so far; compare two readings around the code under test.
inline long allocationCount() noexcept {
    return allocationCounter.load(std::memory_order_relaxed);
}
}  // namespace qm::test

// GCC cannot see that the pair below replaces the global one and would warn
// wherever the including file deletes what it allocated.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
    qm::test::allocationCounter.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
