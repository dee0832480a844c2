#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/QuickString.h"
#include "library/Node.h"

namespace qm {

// A cell of the grid in document coordinates (y grows downward): the square
// picture, and below it the strip of the file's name when names are shown.
struct TileCell {
    double x = 0;
    double y = 0;
    double side = 0;           // the picture's width and height
    double captionHeight = 0;  // 0 without names

    double right() const { return x + side; }
    double height() const { return side + captionHeight; }
    double bottom() const { return y + height(); }
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
// Columns and picture size depend on the width alone; a caption strip under
// each picture only lengthens the rows, so without one the rows are squares.
struct TileGridLayout {
    double width = 0;
    NodePtr node;
    std::span<const QuickString> paths;
    long columns = 1;
    double tileSize = 50;
    long rows = 0;
    double captionHeight = 0;

    static TileGridLayout make(double width, NodePtr node, std::span<const QuickString> paths,
                               double captionHeight = 0);

    // From one row's top to the next.
    double rowHeight() const { return tileSize + captionHeight; }
    double rowTop(long row) const { return rowHeight() * double(row); }
    double height() const { return rowHeight() * double(rows); }
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
    // Where to scroll so that the cell of `index` lies wholly in the visible
    // band [top, top + height) (its top when it is taller); none when it does.
    std::optional<double> topShowing(size_t index, double top, double height) const;
    // Where to scroll so that the pictures of `indices` sit in the middle of
    // a band `height` high (the first at the top when they do not fit), in
    // whole pixels; none without indices.
    std::optional<double> topCentering(const std::vector<size_t>& indices, double height) const;
};

}  // namespace qm
