#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "library/Node.h"

namespace qm {

// One row of the sidebar tree: a visible node with its depth and, for the
// guide lines, which of its ancestors' levels end with this subtree.
struct SidebarRow {
    NodePtr node;
    int depth = 0;
    // Bit i set: the ancestor at depth i (or the node's parent chain at that
    // level) is the last child of its parent, so its guide line fades out.
    uint64_t lastChildMask = 0;
    bool isExpanded = false;  // the node's children are rows too
};

// The visible rows of the tree in depth-first order: the root's sorted
// children at depth 0, hidden nodes skipped with their subtrees, children
// walked only below expanded full names. Built once per change of the tree or
// of the expansion set, so painting and scrolling touch only the rows they
// show.
class SidebarRows {
public:
    void rebuild(const Node& root, const QuickStringSet& expanded);

    size_t size() const { return rows_.size(); }
    bool empty() const { return rows_.empty(); }
    const SidebarRow& operator[](size_t i) const { return rows_[i]; }
    const std::vector<SidebarRow>& rows() const { return rows_; }

    std::optional<size_t> indexOf(const Node* node) const;
    // The row whose node path (from the root) is `path`.
    std::optional<size_t> indexOfPath(const Node& root, const NodePath& path) const;

    // Whether a row can be expanded or collapsed: not a pin and has children.
    static bool isExpandable(const Node& node) {
        return !node.isPinReference() && !node.sortedChildren().empty();
    }

private:
    void walk(const Node& node, int depth, uint64_t mask, const QuickStringSet& expanded);
    std::vector<SidebarRow> rows_;
};

}  // namespace qm
