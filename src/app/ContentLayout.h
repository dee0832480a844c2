#pragma once

#include <QRect>

#include <cstdint>

namespace qm {

// How the tile grid sits in a window's content area: filling it, as a
// results panel at the right of the map, or not at all (the map alone).
enum class TileGridConstraints : uint8_t { full = 0, partial = 1, hidden = 2 };

namespace contentLayout {
constexpr int sidebarThickness = 250;
constexpr int mapInset = 30;      // M, shared with the map's buttons
constexpr int mapTopOffset = 30;  // N
constexpr int resultsPanelWidth = 300;
constexpr int toastPaddingWidth = 30;
constexpr int toastPaddingHeight = 10;
constexpr int toastBottomDistance = 10;
constexpr int toastCornerRadius = 4;
}  // namespace contentLayout

// Not on the map: full; on the map with results: partial; without: hidden.
TileGridConstraints contentModeFor(bool isOnMap, bool hasMapResults);

// The grid's frame inside a content area of that rectangle; empty when hidden.
QRect tileGridFrame(TileGridConstraints mode, const QRect& area);

}  // namespace qm
