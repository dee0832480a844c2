#pragma once

#include <string>

#include "commands/Command.h"
#include "library/Node.h"
#include "library/NodePath.h"

namespace qm {

// One entry of the undo or redo list. "Before" and "after" are seen from the
// item's own command: an undo item holds the inverse of what the user did.
struct CommandItem {
    CommandPtr command;
    std::string menuText;
    NodePath nodeBefore;
    NodePath nodeAfter;
    QuickStringSet selectionBefore;
    QuickStringSet selectionAfter;
};

}  // namespace qm
