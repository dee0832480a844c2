#pragma once

#include <set>
#include <string>

#include "core/QuickString.h"

namespace qm {

// The tags to add to and remove from one file.
struct TagChange {
    QuickString path;
    std::set<std::string> tagsToAdd;
    std::set<std::string> tagsToRemove;

    std::string debugDescription() const;
    friend bool operator==(const TagChange&, const TagChange&) = default;
};

}  // namespace qm
