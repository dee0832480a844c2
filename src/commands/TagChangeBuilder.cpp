#include "commands/TagChangeBuilder.h"

#include <algorithm>

namespace qm {

std::vector<TagChange> TagChangeBuilder::build() const {
    std::vector<TagChange> out;
    out.reserve(tagsForFile.size());
    for (const auto& [path, tags] : tagsForFile)
        out.push_back(TagChange{path, tags.toAdd, tags.toRemove});
    std::sort(out.begin(), out.end(), [](const TagChange& a, const TagChange& b) { return a.path < b.path; });
    return out;
}

}  // namespace qm
