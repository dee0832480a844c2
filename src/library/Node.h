#pragma once

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/QuickString.h"
#include "core/TagFormat.h"
#include "library/NodeKind.h"
#include "library/NodePath.h"
#include "core/PathMetadata.h"
#include "library/WhatChanged.h"

namespace qm {

class Node;
using NodePtr = std::shared_ptr<Node>;
// Sets of names, full names or paths (expanded rows, `keep` sets, tag sets).
using QuickStringSet = absl::flat_hash_set<QuickString>;

// Sidebar keyboard navigation; raw values are stable.
enum class NeighbourMode : uint8_t { previous = 0, next = 1, first = 2, last = 3 };

// One node of the library tree. Owned by its parent's `children` (the parent
// is referenced weakly) and compared by identity. Confined to the thread that
// owns the tree; nothing here locks.
//
// Children, paths and flags change only through the operations below, which
// keep the sorted caches in step with them, keep every child's parent link
// and full name right, and keep a stale folder's ancestors marked.
class Node : public std::enable_shared_from_this<Node> {
    struct Key {
        explicit Key() = default;
    };

public:
    using Children = absl::flat_hash_map<QuickString, NodePtr>;
    using Paths = absl::flat_hash_map<QuickString, PathMetadata>;

    // A node without a parent: a tree's root, or a lone node. Every other
    // node is made by its parent (addChild).
    static NodePtr make(NodeKind kind, QuickString name);
    // For make_shared only; the key keeps everyone else out.
    Node(Key, NodeKind kind, QuickString name, const NodePtr& parent);
    ~Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    const NodeKind kind;
    const QuickString name;
    // The name below a parent with an empty full name (the root), otherwise
    // the parent's full name, "/" and the name.
    const QuickString fullName;

    // Null for a root, and once the parent is gone.
    NodePtr parent() const { return parent_.lock(); }
    // Whether both have the same parent, without locking either link.
    bool sharesParentWith(const Node& other) const {
        return !parent_.owner_before(other.parent_) && !other.parent_.owner_before(parent_);
    }
    NodeFlags flags() const { return flags_; }
    // The label colour of a colour node; absent for every other node.
    const std::optional<Color>& color() const { return color_; }
    const Children& children() const { return children_; }
    const Paths& paths() const { return paths_; }
    // Whether the sorted lists are cached now (they are made on first use).
    bool hasSortedChildren() const { return sortedChildrenOrNil_.has_value(); }
    bool hasSortedPaths() const { return sortedPathsOrNil_.has_value(); }

    bool isPinReference() const { return has(kind, NodeKind::pinReference); }
    bool isQuery() const { return has(kind, NodeKind::query); }
    // The name a row shows: a saved query's own name (also on its pin),
    // else `name`.
    const QuickString& displayName() const;
    bool hasFlag(NodeFlags f) const { return has(flags_, f); }
    bool isHidden() const { return hasFlag(NodeFlags::hidden); }

    // ---- Queries ----

    // For a pin reference, the node under the root's "Tags" its name
    // (split at "/") leads to; null when missing and for every other kind.
    NodePtr pinTarget() const;

    // Walks `children` by each name; this node for an empty list. Null when a
    // step is missing or when this node is a pin reference.
    NodePtr lookup(const NodePath& components) const;

    NodePtr child(const QuickString& name) const;

    // The node path from the root to this node (empty for the root).
    NodePath nodePath() const;

    // A pin reference's target's paths (empty when it has none), else `paths`.
    const Paths& resolvedPaths() const;
    size_t pathCount() const { return resolvedPaths().size(); }

    // False for a pin reference; otherwise no children and no paths.
    bool isEmpty() const;

    // Children in natural order of their names; at the root "Pinned" first and
    // "Map" last. Empty for a pin reference. Cached until `children` changes.
    const std::vector<NodePtr>& sortedChildren() const;

    // Keys of `paths` in natural order (the target's for a pin reference).
    // Cached until a key is added or removed.
    const std::vector<QuickString>& sortedPaths() const;

    // The row before/after the one `path` names (relative to this node), or
    // the first/last row, in the depth-first walk of visible rows: hidden
    // nodes are skipped with their subtrees and only nodes whose full name is
    // in `expanded` show their children. None when there is no such row or
    // `path` names no visible row.
    std::optional<NodePath> neighbour(const NodePath& path, const QuickStringSet& expanded,
                                      NeighbourMode mode) const;

    // Sidebar rows this node occupies: 0 when hidden, 1 when collapsed or a
    // pin reference, else 1 plus its children's rows.
    size_t visibleRowCount(const QuickStringSet& expanded) const;

    // ---- Changes (nothing for a pin reference) ----

    // Creates every missing step as a sub-tag node (kind 5) and lists `path`
    // at the end. Children bit when a node was made; paths bit when the path
    // was new there (replacing the metadata of a listed path reports nothing).
    WhatChanged addPath(const NodePath& components, const QuickString& path, const PathMetadata& metadata);
    // As addPath for many paths at once.
    WhatChanged addPaths(const NodePath& components, const Paths& newPaths);
    // As addPaths for paths without metadata, straight from a list, for the
    // bulk build: the paths' strings must be ones only this thread can reach
    // (see QuickString::unsharedCopy). Duplicates are fine.
    WhatChanged addUnsharedPaths(const NodePath& components, std::span<const QuickString> newPaths);
    // Unlists `path` at the end of the walk (a missing step changes nothing).
    // On the way back up, a child left empty is removed from a parent of kind
    // tagContainer unless its full name is in `keep`.
    WhatChanged removePath(const NodePath& components, const QuickString& path, const QuickStringSet& keep);
    // Creates every missing step as a sub-tag node; lists nothing, but makes
    // room for `roomForPaths` more paths at the end (growing a big table in
    // steps re-reads every key it holds, which a bulk build avoids).
    WhatChanged ensurePath(const NodePath& components, size_t roomForPaths = 0);
    // From a tagContainer node: removes the first node on the way that is not a
    // pin, has no children and no paths, and whose parent is a tagContainer.
    WhatChanged pruneEmpty(const NodePath& components);

    // Cache-keeping edits of `children` and `paths`, for code outside the tree.
    // A new child of this node, replacing any child of the same name.
    NodePtr addChild(NodeKind kind, QuickString name);
    NodePtr removeChild(const QuickString& name);                            // the removed node or null
    bool insertPath(const QuickString& path, const PathMetadata& metadata);  // true when new
    bool erasePath(const QuickString& path);                                 // true when it was there
    // Replaces every path at once (the caller compares first when that saves
    // work). The old table is handed back, so that a big one can be freed
    // off the main thread.
    Paths replacePaths(Paths paths);

    // The node occupies no sidebar row from now on, nor does its subtree
    // (the tree hides its stars node so).
    void hide() { flags_ |= NodeFlags::hidden; }
    // Takes a row again (the queries section once a query is saved).
    void show() { flags_ &= ~NodeFlags::hidden; }
    // A saved query's name; empty shows `name`.
    void setLabel(QuickString label) { label_ = std::move(label); }

    // ---- Folder bookkeeping (the flags the folder pass walks by) ----

    // This folder must be read again; every ancestor notes that something
    // below it is stale, so the pass walks down to it.
    void markStale();
    // Every folder below must be read again too.
    void markSubtreeStale();
    // The folder is being read: no longer stale.
    void markRead();
    // The pass found nothing stale below this node any more.
    void markDescendantsRead();
    // A sub-folder found by reading this folder, as a new child: read at
    // once when this folder is opened (stale), else only noted until it is
    // (found but not scheduled).
    NodePtr addFoundSubfolder(QuickString name);
    // Opens this folder: its found sub-folders become stale, and so will
    // those found from now on. True when some sub-folder must be read.
    bool markOpened();

private:
    friend class Tree;  // colours the colour nodes as it makes them

    std::weak_ptr<Node> parent_;
    NodeFlags flags_ = NodeFlags::none;
    std::optional<Color> color_;
    QuickString label_;
    Children children_;
    mutable std::optional<std::vector<NodePtr>> sortedChildrenOrNil_;
    Paths paths_;
    mutable std::optional<std::vector<QuickString>> sortedPathsOrNil_;

    // Marks this node and every ancestor as having something stale below.
    void markStaleUpwards();
    NodePtr walkCreating(const NodePath& components, bool& created);
    // The shared part of the bulk adders: walks (creating) to the node and
    // lets `add` fill its paths; `add` returns whether a path was new.
    template <typename Add>
    WhatChanged addPathsWith(const NodePath& components, bool anyPaths, Add&& add);
    void collectLastRow(NodePath& path, const QuickStringSet& expanded) const;
};

}  // namespace qm
