#pragma once

#include <cstdint>

#include "core/BitFlags.h"

namespace qm {

// What a node stands for; fixed when the node is made. Raw values are stable.
enum class NodeKind : uint8_t {
    none = 0,          // root, Pinned, Colors, Map
    tag = 1,           // stands for a tag: colour nodes, the stars node, sub-tags, pins
    directory = 2,     // Folders and every folder node below it
    tagContainer = 4,  // Tags and every sub-tag; emptied children vanish
    pinReference = 8,  // a node under Pinned standing for a node under Tags
    query = 16,        // lists the files a tag expression selects (under Queries)
    subTag = 5,        // tag | tagContainer
    pin = 9,           // tag | pinReference
    queryPin = 24,     // pinReference | query: a pin standing for a query under Queries
};

// Per-node state bits; mutable. Raw values are stable.
enum class NodeFlags : uint8_t {
    none = 0,
    hidden = 1,            // occupies no sidebar row (the stars node)
    stale = 2,             // folder contents must be read again
    descendantStale = 4,   // some folder below is stale
    foundUnscheduled = 8,  // folder seen while its parent was not opened
    opened = 16,           // sub-folders are read eagerly
};

template <>
inline constexpr bool isBitFlags<NodeKind> = true;
template <>
inline constexpr bool isBitFlags<NodeFlags> = true;

// For log lines and test failure messages, e.g. "5".
const char* describe(NodeKind k);

}  // namespace qm
