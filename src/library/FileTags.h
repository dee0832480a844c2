#pragma once

#include <absl/container/flat_hash_map.h>

#include <memory>

#include "core/QuickString.h"
#include "library/Node.h"  // QuickStringSet

namespace qm {

// The full names of the tag nodes that list one file. Never null nor empty
// in a FileTags map, and never changed in place: files with the same tags
// share one set, which keeps a million-file library to a few thousand sets.
using FileTagSet = std::shared_ptr<const QuickStringSet>;
// For every tagged file, its tag set.
using FileTags = absl::flat_hash_map<QuickString, FileTagSet>;

}  // namespace qm
