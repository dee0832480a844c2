#include "sidebar/SidebarDropRules.h"

namespace qm {

bool SidebarDropRules::accepts(const Node& row, const DropInfo& drop, const TagFormat& format) {
    if (!drop.filePaths().empty()) return has(row.kind, NodeKind::tag) || has(row.kind, NodeKind::directory);
    std::optional<TagPasteboardType> payload = drop.tagPayload();
    if (!payload || !has(row.kind, NodeKind::tagContainer)) return false;
    NodePath dragged = nodePathForFullName(format.nodeNameForTag(payload->tag));
    if (dragged.empty()) return false;
    NodePath destination = nodePathForFullName(row.fullName);
    destination.push_back(dragged.back());
    return !nodePathStartsWith(destination, dragged);
}

}  // namespace qm
