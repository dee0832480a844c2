#include "sidebar/SidebarDropRules.h"

namespace qm {

SidebarDropRules::Drag SidebarDropRules::read(const DropInfo& drop, const TagFormat& format) {
    Drag drag;
    drag.hasFiles = !drop.filePaths().empty();
    if (drag.hasFiles) return drag;
    if (std::optional<TagPasteboardType> payload = drop.tagPayload()) {
        NodePath dragged = nodePathForFullName(format.nodeNameForTag(payload->tag));
        if (!dragged.empty()) drag.draggedTag = std::move(dragged);
    }
    return drag;
}

bool SidebarDropRules::accepts(const Node& row, const Drag& drag) {
    if (drag.hasFiles) return has(row.kind, NodeKind::tag) || has(row.kind, NodeKind::directory);
    if (!drag.draggedTag || !has(row.kind, NodeKind::tagContainer)) return false;
    NodePath destination = nodePathForFullName(row.fullName);
    destination.push_back(drag.draggedTag->back());
    return !nodePathStartsWith(destination, *drag.draggedTag);
}

}  // namespace qm
