#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/QuickString.h"
#include "library/Node.h"

namespace qm {

// A square cell of the grid in document coordinates (y grows downward).
struct TileCell {
    double x = 0;
    double y = 0;
    double side = 0;

    double right() const { return x + side; }
    double bottom() const { return y + side; }
    friend bool operator==(const TileCell&, const TileCell&) = default;
};

// The rows one update pass looks at for a visible band: the visible rows
// [firstRow, lastRow) and the prepared rows [lowRow, highRow), one screen
// above and one below.
struct TileRowRange {
    long firstRow = 0;
    long lastRow = 0;
    long lowRow = 0;
    long highRow = 0;
    friend bool operator==(const TileRowRange&, const TileRowRange&) = default;
};

// Where the grid is scrolled, relative to its first visible row.
struct TileScrollAnchor {
    size_t index = 0;     // first path of the top visible row
    double offset = 0;    // distance from that row's top to the visible top
};

// The grid's geometry for one width and one list of files. The paths are a
// view of the list the node (or the window's map results) owns, so a layout
// lives only as long as that list stays unchanged: the current event.
struct TileGridLayout {
    double width = 0;
    NodePtr node;
    std::span<const QuickString> paths;
    long columns = 1;
    double tileSize = 50;
    long rows = 0;

    static TileGridLayout make(double width, NodePtr node, std::span<const QuickString> paths);

    double height() const { return tileSize * double(rows); }
    size_t count() const { return paths.size(); }
    TileCell cell(size_t index) const;
    long rowOf(size_t index) const { return long(index / size_t(columns)); }
    // The file index under a document point; none outside every tile.
    std::optional<size_t> indexAt(double x, double y) const;
    // Rows to visit for the visible band [top, top + height).
    TileRowRange rowsFor(double top, double height) const;
    // The order in which an update pass binds rows: the prepared rows above
    // (ascending), those below (descending), then the visible ones from the
    // bottom up, so the visible top row ends as the most recently used.
    static std::vector<long> rowOrder(const TileRowRange& range);
    // How many tiles may stay bound: five screens' worth.
    size_t tileCapacity(double visibleHeight) const;
    // The first visible row's file and the offset into it; none past the end.
    std::optional<TileScrollAnchor> scrollAnchor(double top) const;
    // The first index of a path, when shown.
    std::optional<size_t> indexOf(const QuickString& path) const;
};

}  // namespace qm
