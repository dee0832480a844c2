#include "tilegrid/TileGridLayout.h"

#include <algorithm>
#include <cmath>

namespace qm {

TileGridLayout TileGridLayout::make(double width, NodePtr node, std::span<const QuickString> paths,
                                    double captionHeight) {
    TileGridLayout l;
    l.captionHeight = std::max(captionHeight, 0.0);
    l.width = width;
    l.node = std::move(node);
    l.paths = paths;
    double target = std::clamp(width / 3, 100.0, 150.0);
    // std::round rounds halves away from zero.
    l.columns = std::max(1L, long(std::round(width / target)));
    l.tileSize = std::max(width / double(l.columns), 50.0);
    l.rows = long((paths.size() + size_t(l.columns) - 1) / size_t(l.columns));
    return l;
}

TileCell TileGridLayout::cell(size_t index) const {
    size_t c = size_t(columns);
    return TileCell{tileSize * double(index % c), rowHeight() * double(index / c), tileSize, captionHeight};
}

std::optional<size_t> TileGridLayout::indexAt(double x, double y) const {
    if (x < 0 || y < 0 || tileSize <= 0) return std::nullopt;
    double c = std::floor(x / tileSize);
    double r = std::floor(y / rowHeight());
    if (c >= double(columns) || r >= double(rows)) return std::nullopt;
    size_t i = size_t(r) * size_t(columns) + size_t(c);
    if (i >= paths.size()) return std::nullopt;
    return i;
}

TileRowRange TileGridLayout::rowsFor(double top, double height) const {
    TileRowRange r;
    if (tileSize <= 0) return r;
    const double pitch = rowHeight();
    r.firstRow = std::max(long(std::floor(top / pitch)), 0L);
    r.lastRow = std::min(rows, long(std::ceil((top + height) / pitch)));
    r.lowRow = std::max(long(std::floor((top - height) / pitch)), 0L);
    r.highRow = std::min(rows, long(std::ceil((top + 2 * height) / pitch)));
    return r;
}

std::vector<long> TileGridLayout::rowOrder(const TileRowRange& range) {
    std::vector<long> order;
    for (long row = range.lowRow; row < std::min(range.firstRow, range.highRow); ++row) order.push_back(row);
    for (long row = range.highRow - 1; row >= std::max(range.lastRow, range.lowRow); --row) order.push_back(row);
    for (long row = range.lastRow - 1; row >= range.firstRow; --row) order.push_back(row);
    return order;
}

size_t TileGridLayout::tileCapacity(double visibleHeight) const {
    long screens = tileSize > 0 ? long(std::ceil(visibleHeight / rowHeight())) : 1;
    return size_t(5 * columns * std::max(screens, 1L));
}

std::optional<TileScrollAnchor> TileGridLayout::scrollAnchor(double top) const {
    if (tileSize <= 0 || top < 0) return std::nullopt;
    double row = std::floor(top / rowHeight());
    size_t i = size_t(row) * size_t(columns);
    if (i >= paths.size()) return std::nullopt;
    return TileScrollAnchor{i, top - rowHeight() * row};
}

std::optional<size_t> TileGridLayout::indexOf(const QuickString& path) const {
    auto it = std::find(paths.begin(), paths.end(), path);
    if (it == paths.end()) return std::nullopt;
    return size_t(it - paths.begin());
}

std::optional<double> TileGridLayout::topShowing(size_t index, double top, double height) const {
    TileCell c = cell(index);
    if (c.y < top) return c.y;
    if (c.bottom() > top + height) return c.bottom() - height;
    return std::nullopt;
}

std::optional<double> TileGridLayout::topCentering(const std::vector<size_t>& indices, double height) const {
    if (indices.empty()) return std::nullopt;
    double low = cell(indices.front()).y, high = low;
    for (size_t i : indices) {
        TileCell c = cell(i);
        low = std::min(low, c.y);
        high = std::max(high, c.y + c.side);
    }
    double used = std::min(high - low, height);
    return std::trunc(low - (height - used) / 2);
}

}  // namespace qm
