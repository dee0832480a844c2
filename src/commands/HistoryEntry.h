#pragma once

#include <any>

#include "library/Node.h"
#include "library/NodePath.h"

namespace qm {

// The panes' scroll positions, opaque to the model: each view stores and
// reads back its own value.
struct HistoryScrollState {
    std::any sidebar;
    std::any map;
    std::any tileGrid;
};

// One step of a window's back/forward history.
struct HistoryEntry {
    NodePath node;
    QuickStringSet selection;
    HistoryScrollState scrollState;
};

}  // namespace qm
