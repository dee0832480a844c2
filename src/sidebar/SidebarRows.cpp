#include "sidebar/SidebarRows.h"

namespace qm {

void SidebarRows::rebuild(const Node& root, const QuickStringSet& expanded) {
    rows_.clear();
    walk(root, -1, 0, expanded);
}

void SidebarRows::walk(const Node& node, int depth, uint64_t mask, const QuickStringSet& expanded) {
    const std::vector<NodePtr>& children = node.sortedChildren();
    // The last visible child draws the fading guide line of this level.
    const Node* lastVisible = nullptr;
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if (!(*it)->isHidden()) {
            lastVisible = it->get();
            break;
        }
    for (const NodePtr& child : children) {
        if (child->isHidden()) continue;
        int d = depth + 1;
        uint64_t childMask = 0;
        if (d > 0 && child.get() == lastVisible) childMask = mask | (d - 1 < 64 ? uint64_t(1) << (d - 1) : 0);
        bool open = !child->isPinReference() && !child->sortedChildren().empty() &&
                    expanded.contains(child->fullName);
        rows_.push_back(SidebarRow{child, d, childMask, open});
        if (open) walk(*child, d, childMask, expanded);
    }
}

std::optional<size_t> SidebarRows::indexOf(const Node* node) const {
    if (!node) return std::nullopt;
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].node.get() == node) return i;
    return std::nullopt;
}

std::optional<size_t> SidebarRows::indexOfPath(const Node& root, const NodePath& path) const {
    if (path.empty()) return std::nullopt;
    NodePtr node = root.lookup(path);
    return node ? indexOf(node.get()) : std::nullopt;
}

}  // namespace qm
