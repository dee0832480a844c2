#pragma once

#include <cstddef>
#include <optional>
#include <utility>

namespace qm {

// The geometry of sidebar rows, shared by the tree and the results list:
// where rows sit, where names start, where counts end and what a click hits.
// Pure arithmetic, so it is tested without a widget.
struct SidebarLayout {
    static constexpr double topPadding = 6;
    static constexpr double bottomPadding = 0;
    static constexpr double levelIndent = 10;
    static constexpr double textInset = 25;
    static constexpr double colorOffset = 6;
    static constexpr double selectionInset = 6;
    static constexpr double cornerRadius = 4;
    static constexpr double focusRingWidth = 3;

    // round(fontSize × 1.5), halves away from zero.
    explicit SidebarLayout(double fontSize);

    double rowHeight;

    // Vertical offset of text within a row for a font's metrics.
    static double textOffset(double rowHeight, double capHeight, double ascender);

    double rowTop(size_t index) const { return topPadding + rowHeight * double(index); }
    double contentHeight(size_t rows) const { return topPadding + bottomPadding + rowHeight * double(rows); }
    // The row a y coordinate falls in (y ≤ point < y + height), if any.
    std::optional<size_t> rowAt(double y, size_t rowCount) const;
    // First and one-past-last row meeting [top, bottom).
    std::pair<size_t, size_t> rowsMeeting(double top, double bottom, size_t rowCount) const;

    static double textX(int depth, bool hasColor) {
        return textInset + levelIndent * depth + (hasColor ? colorOffset : 0);
    }
    // A left click left of this x toggles the row's expansion instead of selecting it.
    static double disclosureBoundary(int depth) { return textInset + levelIndent * depth; }
    // Right edge of a row's text: the count needs room from the scroller.
    static double rightEdge(double clipWidth, double viewWidth, size_t count);
    // x of the guide line of level i.
    static double guideX(int level) { return 17 + levelIndent * level; }
};

}  // namespace qm
