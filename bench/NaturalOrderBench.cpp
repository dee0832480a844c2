// Natural-order sort of 1,000,000 realistic paths (long shared prefixes, mixed
// case, digit runs) against sorting the same list by plain byte order.
// Target: BM_NaturalVsByteSort's "ratio" counter (natural / memcmp) <= 2.0.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/QuickString.h"

namespace {

using qm::QuickString;

std::vector<QuickString> realisticPaths(size_t count) {
    std::mt19937_64 rng(31337);
    const char* users[] = {"alice", "bob"};
    const char* kinds[] = {"Pictures", "Documents", "Music", "Movies", "Downloads"};
    const char* words[] = {"Trip", "Oslo", "Family", "work", "Project", "Draft", "final", "Beach", "IMG", "img"};
    std::vector<QuickString> out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        std::string p = "/home/";
        p += users[rng() % 2];
        p += '/';
        const char* kind = kinds[rng() % 5];
        p += kind;
        switch (rng() % 4) {
            case 0:  // camera files by year and day
                p += "/" + std::to_string(2010 + rng() % 14) + "/" + std::to_string(2010 + rng() % 14) + "-" +
                     std::to_string(1 + rng() % 12) + "-" + std::to_string(1 + rng() % 28) + " " +
                     words[rng() % 10] + "/" + (rng() % 2 ? "IMG_" : "DSC") + std::to_string(rng() % 10000) +
                     (rng() % 3 ? ".JPG" : ".jpg");
                break;
            case 1:  // documents in project folders
                p += std::string("/") + words[rng() % 10] + " " + std::to_string(rng() % 40) + "/" +
                     words[rng() % 10] + " v" + std::to_string(rng() % 12) + ".docx";
                break;
            case 2:  // albums and tracks
                p += std::string("/") + words[rng() % 10] + "/Album (" + std::to_string(1970 + rng() % 50) +
                     ")/" + std::to_string(1 + rng() % 20) + " - " + words[rng() % 10] + ".flac";
                break;
            default:  // flat folders of numbered files
                p += "/scan" + std::to_string(rng() % 100000) + ".png";
                break;
        }
        out.push_back(QuickString::literal(p));
    }
    return out;
}

bool byteLess(const QuickString& a, const QuickString& b) {
    std::string_view x = a.utf8(), y = b.utf8();
    int c = std::memcmp(x.data(), y.data(), std::min(x.size(), y.size()));
    return c < 0 || (c == 0 && x.size() < y.size());
}

void BM_NaturalVsByteSort(benchmark::State& state) {
    const auto source = realisticPaths(1000000);
    double byteSeconds = 0, naturalSeconds = 0;
    for (auto _ : state) {
        auto a = source;
        auto b = source;
        auto t0 = std::chrono::steady_clock::now();
        std::sort(a.begin(), a.end(), byteLess);
        auto t1 = std::chrono::steady_clock::now();
        std::sort(b.begin(), b.end());
        auto t2 = std::chrono::steady_clock::now();
        byteSeconds += std::chrono::duration<double>(t1 - t0).count();
        naturalSeconds += std::chrono::duration<double>(t2 - t1).count();
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
    }
    state.counters["byte_ms"] = byteSeconds * 1000 / static_cast<double>(state.iterations());
    state.counters["natural_ms"] = naturalSeconds * 1000 / static_cast<double>(state.iterations());
    state.counters["ratio"] = naturalSeconds / byteSeconds;
}
BENCHMARK(BM_NaturalVsByteSort)->Unit(benchmark::kMillisecond)->Iterations(3);

// Single comparisons of neighbouring paths (long shared prefix).
void BM_NaturalLessNeighbours(benchmark::State& state) {
    auto paths = realisticPaths(100000);
    std::sort(paths.begin(), paths.end(), byteLess);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(paths[i] < paths[i + 1]);
        if (++i + 1 >= paths.size()) i = 0;
    }
}
BENCHMARK(BM_NaturalLessNeighbours);

}  // namespace
