#pragma once

#include "core/QuickString.h"

namespace qm {

// The grid's scroll position for history and restoration: the first file of
// the top visible row and how far that row is scrolled past.
struct TileGridScrollState {
    QuickString firstVisiblePath;
    double scrollOffset = 0;
};

}  // namespace qm
