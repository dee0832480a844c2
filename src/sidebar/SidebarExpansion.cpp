#include "sidebar/SidebarExpansion.h"

#include "commands/BrowserState.h"
#include "library/DB.h"

namespace qm {

namespace {
bool applyOne(QuickStringSet& expanded, const Node& constNode, bool expand) {
    if (!expand) {
        expanded.erase(constNode.fullName);
        return false;
    }
    expanded.insert(constNode.fullName);
    // Flags are the folder pass's bookkeeping, mutable on the model's thread.
    return const_cast<Node&>(constNode).markOpened();
}
}  // namespace

bool SidebarExpansion::apply(QuickStringSet& expanded, const Node& node, bool expand, bool recursive) {
    bool schedule = applyOne(expanded, node, expand);
    if (recursive)
        for (const NodePtr& child : node.sortedChildren()) schedule |= apply(expanded, *child, expand, true);
    return schedule;
}

void SidebarExpansion::change(BrowserState& window, DB& db, const Node& node, bool expand, bool recursive) {
    QuickStringSet next = window.isExpanded();
    if (apply(next, node, expand, recursive)) db.scheduleDirectoryUpdate();
    window.setIsExpanded(std::move(next));
}

}  // namespace qm
