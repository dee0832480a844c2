#pragma once

#include <cstdint>

namespace qm {

// What a node stands for; fixed when the node is made. Raw values are stable.
enum class NodeKind : uint8_t {
    none = 0,          // root, Pinned, Colors, Map
    tag = 1,           // stands for a tag: colour nodes, the stars node, sub-tags, pins
    directory = 2,     // Folders and every folder node below it
    tagContainer = 4,  // Tags and every sub-tag; emptied children vanish
    pinReference = 8,  // a node under Pinned standing for a node under Tags
    subTag = 5,        // tag | tagContainer
    pin = 9,           // tag | pinReference
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

constexpr uint8_t rawValue(NodeKind k) {
    return static_cast<uint8_t>(k);
}
constexpr uint8_t rawValue(NodeFlags f) {
    return static_cast<uint8_t>(f);
}

constexpr NodeKind operator|(NodeKind a, NodeKind b) {
    return NodeKind(rawValue(a) | rawValue(b));
}
constexpr NodeKind operator&(NodeKind a, NodeKind b) {
    return NodeKind(rawValue(a) & rawValue(b));
}
constexpr NodeFlags operator|(NodeFlags a, NodeFlags b) {
    return NodeFlags(rawValue(a) | rawValue(b));
}
constexpr NodeFlags operator&(NodeFlags a, NodeFlags b) {
    return NodeFlags(rawValue(a) & rawValue(b));
}
constexpr NodeFlags operator~(NodeFlags a) {
    return NodeFlags(uint8_t(~rawValue(a)));
}
constexpr NodeFlags& operator|=(NodeFlags& a, NodeFlags b) {
    return a = a | b;
}
constexpr NodeFlags& operator&=(NodeFlags& a, NodeFlags b) {
    return a = a & b;
}

// True when every bit of `bits` is set in `set` (and `bits` is not empty).
constexpr bool has(NodeKind set, NodeKind bits) {
    return rawValue(bits) != 0 && (rawValue(set) & rawValue(bits)) == rawValue(bits);
}
constexpr bool has(NodeFlags set, NodeFlags bits) {
    return rawValue(bits) != 0 && (rawValue(set) & rawValue(bits)) == rawValue(bits);
}

// For log lines and test failure messages, e.g. "5".
const char* describe(NodeKind k);

}  // namespace qm
