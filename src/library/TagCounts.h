#pragma once

#include <absl/container/flat_hash_map.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm {

// How many files carry each tag (the tag itself, not the tags below it).
class TagCounts {
public:
    // One file's tags; a tag listed twice for one file counts once.
    void add(const std::vector<std::string>& tags);
    // Every tag with its count, in the natural order of tag names (ties, which
    // differ only in case, by bytes).
    std::vector<std::pair<std::string, size_t>> sorted() const;

private:
    absl::flat_hash_map<std::string, size_t> counts_;
    std::vector<std::string_view> seen_;  // scratch for add
};

}  // namespace qm
