#pragma once

#include <optional>

#include "commands/DropInfo.h"
#include "core/TagFormat.h"
#include "library/Node.h"
#include "library/NodePath.h"

namespace qm {

// Which sidebar row accepts a drop: files onto tags and folders; a dragged
// tag onto a tag-holding row, but never onto itself, its own parent (it is
// there already) or one of its subtags.
struct SidebarDropRules {
    // What the rules need of a drag, read from its contents once.
    struct Drag {
        bool hasFiles = false;
        std::optional<NodePath> draggedTag;  // node path of the dragged tag
    };
    static Drag read(const DropInfo& drop, const TagFormat& format);

    static bool accepts(const Node& row, const Drag& drag);
    static bool accepts(const Node& row, const DropInfo& drop, const TagFormat& format) {
        return accepts(row, read(drop, format));
    }
};

}  // namespace qm
