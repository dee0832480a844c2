#include "tilegrid/TileGridScrollState.h"

#include "tilegrid/TileGridLayout.h"

namespace qm {

std::optional<TileGridScrollState> TileGridScrollState::of(const TileGridLayout& layout, double top) {
    auto anchor = layout.scrollAnchor(top);
    if (!anchor) return std::nullopt;
    return TileGridScrollState{layout.paths[anchor->index], anchor->offset};
}

std::optional<double> TileGridScrollState::topIn(const TileGridLayout& layout) const {
    auto i = layout.indexOf(firstVisiblePath);
    if (!i) return std::nullopt;
    return layout.rowTop(layout.rowOf(*i)) + scrollOffset;
}

}  // namespace qm
