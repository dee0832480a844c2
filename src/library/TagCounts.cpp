#include "library/TagCounts.h"

#include <algorithm>

#include "core/QuickString.h"

namespace qm {

void TagCounts::add(const std::vector<std::string>& tags) {
    seen_.clear();
    for (const std::string& tag : tags) {
        if (std::find(seen_.begin(), seen_.end(), tag) != seen_.end()) continue;
        seen_.push_back(tag);
        ++counts_[tag];
    }
}

std::vector<std::pair<std::string, size_t>> TagCounts::sorted() const {
    std::vector<std::pair<std::string, size_t>> out(counts_.begin(), counts_.end());
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
        if (naturalLess(a.first, b.first)) return true;
        if (naturalLess(b.first, a.first)) return false;
        return a.first < b.first;
    });
    return out;
}

}  // namespace qm
