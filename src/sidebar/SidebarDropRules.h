#pragma once

#include "commands/DropInfo.h"
#include "core/TagFormat.h"
#include "library/Node.h"

namespace qm {

// Which sidebar row accepts a drop: files onto tags and folders; a dragged
// tag onto a tag-holding row, but never onto itself, its own parent (it is
// there already) or one of its subtags.
struct SidebarDropRules {
    static bool accepts(const Node& row, const DropInfo& drop, const TagFormat& format);
};

}  // namespace qm
