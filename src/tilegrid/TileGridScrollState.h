#pragma once

#include <optional>

#include "core/QuickString.h"

namespace qm {

struct TileGridLayout;

// The grid's scroll position for history and restoration: the first file of
// the top visible row and how far that row is scrolled past.
struct TileGridScrollState {
    QuickString firstVisiblePath;
    double scrollOffset = 0;

    // The position of a layout scrolled to `top`; none past its end.
    static std::optional<TileGridScrollState> of(const TileGridLayout& layout, double top);
    // Where to scroll a layout, of another width or row height perhaps, so
    // that the file's row is scrolled past as far again; none when the file
    // is not shown.
    std::optional<double> topIn(const TileGridLayout& layout) const;
};

}  // namespace qm
