#pragma once

// The synthetic tagged library the ingest and database benchmarks share:
// 1,000,000 files, 20,000 distinct tags (some nested, two of them colour
// labels), 60,000 tag sets of 1 to 5 tags picked with a Zipf-like skew so
// that, as in real libraries, a few thousand sets cover most files.

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "support/MemoryMetadataIndex.h"

namespace qm::bench {

constexpr size_t fileCount = 1'000'000;
constexpr size_t tagCount = 20'000;
constexpr size_t setCount = 60'000;

// Zipf-like pick: small indices are far more common, as popular tags are.
inline size_t skewed(std::mt19937_64& rng, size_t n) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    return std::min(n - 1, size_t(std::pow(u(rng), 3.0) * double(n)));
}

struct SyntheticLibrary {
    std::vector<std::vector<std::string>> sets;  // the tag sets files draw from
    std::vector<MetadataItem> items;             // every file, in order added
};

// Fills `index` with the library; `rng` goes on to drive later changes.
inline SyntheticLibrary fillSyntheticLibrary(MemoryMetadataIndex& index, std::mt19937_64& rng) {
    std::vector<std::string> tags;
    tags.reserve(tagCount);
    for (size_t i = 0; i < tagCount; ++i)
        tags.push_back(i % 10 == 0 ? "Project " + std::to_string(i / 10)
                                   : "Area " + std::to_string(i % 50) + "/Topic " + std::to_string(i));
    tags[1] = "Red";
    tags[2] = "Blue";
    SyntheticLibrary library;
    library.sets.resize(setCount);
    std::uniform_int_distribution<int> width(1, 5);
    for (size_t s = 0; s < setCount; ++s) {
        library.sets[s].push_back(tags[s % tagCount]);  // every tag is used
        for (int k = 1, w = width(rng); k < w; ++k) library.sets[s].push_back(tags[skewed(rng, tagCount)]);
    }
    index.reserve(fileCount);
    library.items.reserve(fileCount);
    for (size_t i = 0; i < fileCount; ++i)
        library.items.push_back(index.add({"/home/user/Pictures/" + std::to_string(2000 + i % 25) + "/Album " +
                                               std::to_string(i / 400) + "/IMG_" + std::to_string(i) + ".jpg",
                                           library.sets[skewed(rng, setCount)], std::nullopt, std::nullopt}));
    return library;
}

}  // namespace qm::bench
