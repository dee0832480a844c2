// QuickString costs. Targets: hashing and equality never decode text (they
// cost the same for valid and invalid UTF-8 and do not grow with length
// beyond the byte compare); `components` of a 10-component path makes one
// allocation per component plus the list (the "allocs" counter is 11).
#include <benchmark/benchmark.h>

#include <absl/container/flat_hash_set.h>

#include <string>
#include <vector>

#include "core/QuickString.h"
#include "support/AllocationCounter.h"

namespace {

using qm::QuickString;

const char* const tenComponents = "/home/user/Pictures/2023/Trip/Day 1/raw/IMG_1234/x.jpg";

void BM_Components10(benchmark::State& state) {
    QuickString path = QuickString::literal(tenComponents);
    long before = qm::test::allocationCount();
    for (auto _ : state) {
        auto parts = path.components();
        benchmark::DoNotOptimize(parts.data());
    }
    state.counters["allocs"] =
        static_cast<double>(qm::test::allocationCount() - before) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Components10);

void BM_EqualityLongEqual(benchmark::State& state) {
    std::string text(static_cast<size_t>(state.range(0)), 'a');
    if (state.range(1)) text[text.size() / 2] = '\xFF';  // not UTF-8
    QuickString a = QuickString::bytes(text), b = QuickString::bytes(text);
    long before = qm::test::allocationCount();
    for (auto _ : state) benchmark::DoNotOptimize(a == b);
    state.counters["allocs"] = static_cast<double>(qm::test::allocationCount() - before);
}
BENCHMARK(BM_EqualityLongEqual)->Args({64, 0})->Args({64, 1})->Args({4096, 0})->Args({4096, 1});

void BM_EqualityDifferentHash(benchmark::State& state) {
    QuickString a = QuickString::bytes(std::string(4096, 'a') + "1");
    QuickString b = QuickString::bytes(std::string(4096, 'a') + "2");
    for (auto _ : state) benchmark::DoNotOptimize(a == b);
}
BENCHMARK(BM_EqualityDifferentHash);

void BM_SetLookup(benchmark::State& state) {
    absl::flat_hash_set<QuickString> set;
    std::vector<QuickString> keys;
    for (int i = 0; i < 100000; ++i) {
        keys.push_back(QuickString::bytes("/home/u/Pictures/2023/IMG_" + std::to_string(i) + ".JPG\xFF"));
        set.insert(keys.back());
    }
    size_t i = 0;
    long before = qm::test::allocationCount();
    for (auto _ : state) {
        benchmark::DoNotOptimize(set.contains(keys[i]));
        if (++i == keys.size()) i = 0;
    }
    state.counters["allocs"] = static_cast<double>(qm::test::allocationCount() - before);
}
BENCHMARK(BM_SetLookup);

void BM_ConstructPath(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(QuickString::path("/home/user/Pictures/2023/IMG_1234.JPG/"));
}
BENCHMARK(BM_ConstructPath);

void BM_CopyHandle(benchmark::State& state) {
    QuickString a = QuickString::literal(tenComponents);
    for (auto _ : state) {
        QuickString b = a;
        benchmark::DoNotOptimize(b);
    }
}
BENCHMARK(BM_CopyHandle);

}  // namespace
