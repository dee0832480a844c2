#pragma once

#include <string>
#include <vector>

#include "core/QuickString.h"

namespace qm {

// The address of a node: the names from the root's child down to it. The root
// is the empty list; a pin reference is {"Pinned", "a/b"}.
using NodePath = std::vector<QuickString>;

// The node path of a full name: its components split at "/" (empty pieces
// kept), except that the root's empty full name is the empty path.
inline NodePath nodePathForFullName(const QuickString& fullName) {
    if (fullName.empty()) return {};
    return fullName.components();
}

// The full name a node path addresses: the names joined with "/".
inline QuickString fullNameForNodePath(const NodePath& path) {
    std::string joined;
    for (size_t i = 0; i < path.size(); ++i) {
        if (i) joined += '/';
        joined += path[i].utf8();
    }
    return QuickString::bytes(joined);
}

// True when `path` begins with every name of `prefix`.
inline bool nodePathStartsWith(const NodePath& path, const NodePath& prefix) {
    if (prefix.size() > path.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (path[i] != prefix[i]) return false;
    return true;
}

}  // namespace qm
