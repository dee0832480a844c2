#pragma once

#include <absl/container/flat_hash_map.h>

#include <set>
#include <string>
#include <vector>

#include "commands/TagChange.h"
#include "core/QuickString.h"

namespace qm {

// Collects per-file additions and removals while a caller walks files or a
// tag subtree. Adding and removing one tag for one file keeps both.
class TagChangeBuilder {
public:
    struct Tags {
        std::set<std::string> toAdd;
        std::set<std::string> toRemove;
    };

    void addTag(const QuickString& path, const std::string& tag) { tagsForFile[path].toAdd.insert(tag); }
    void removeTag(const QuickString& path, const std::string& tag) {
        tagsForFile[path].toRemove.insert(tag);
    }
    // One change per file, ordered by path in natural order.
    std::vector<TagChange> build() const;

    absl::flat_hash_map<QuickString, Tags> tagsForFile;
};

}  // namespace qm
