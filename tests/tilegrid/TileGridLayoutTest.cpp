#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "tilegrid/TileGridLayout.h"
#include "tilegrid/TilePool.h"

namespace qm {
namespace {

std::vector<QuickString> names(size_t n) {
    std::vector<QuickString> out;
    for (size_t i = 0; i < n; ++i) out.push_back(QuickString::bytes("/f" + std::to_string(i)));
    return out;
}

TEST(TileGridLayout, ColumnsAndTileSizeFollowTheWidth) {
    auto paths = names(10);
    struct Case {
        double width;
        long columns;
        double tileSize;
    };
    for (Case c : {Case{600, 4, 150}, Case{250, 3, 250.0 / 3}, Case{120, 1, 120}, Case{30, 1, 50},
                   Case{0.5, 1, 50}, Case{1920, 13, 1920.0 / 13}, Case{450, 3, 150}, Case{375, 3, 125}}) {
        TileGridLayout l = TileGridLayout::make(c.width, nullptr, paths);
        EXPECT_EQ(l.columns, c.columns) << c.width;
        EXPECT_DOUBLE_EQ(l.tileSize, c.tileSize) << c.width;
        EXPECT_EQ(l.rows, long(std::ceil(10.0 / double(c.columns)))) << c.width;
    }
    TileGridLayout empty = TileGridLayout::make(600, nullptr, {});
    EXPECT_EQ(empty.rows, 0);
    EXPECT_EQ(empty.height(), 0);
    EXPECT_EQ(empty.indexAt(10, 10), std::nullopt);
    EXPECT_TRUE(TileGridLayout::rowOrder(empty.rowsFor(0, 500)).empty());
}

TEST(TileGridLayout, CellsTouchAndHitTestingFindsThem) {
    auto paths = names(10);
    TileGridLayout l = TileGridLayout::make(600, nullptr, paths);
    EXPECT_EQ(l.cell(0), (TileCell{0, 0, 150}));
    EXPECT_EQ(l.cell(5), (TileCell{150, 150, 150}));
    EXPECT_EQ(l.cell(9), (TileCell{150, 300, 150}));
    for (size_t i = 0; i < paths.size(); ++i) {
        TileCell c = l.cell(i);
        EXPECT_EQ(l.indexAt(c.x + 1, c.y + 1), i);
        EXPECT_EQ(l.indexAt(c.right() - 0.01, c.bottom() - 0.01), i);
    }
    EXPECT_EQ(l.indexAt(300, 300), std::nullopt);  // past the last file of the last row
    EXPECT_EQ(l.indexAt(-1, 0), std::nullopt);
    EXPECT_EQ(l.indexAt(0, 450), std::nullopt);
}

TEST(TileGridLayout, RowsPreparedAroundTheVisibleBandInBindingOrder) {
    auto paths = names(100);  // 25 rows of 4 at 150
    TileGridLayout l = TileGridLayout::make(600, nullptr, paths);
    TileRowRange r = l.rowsFor(1000, 400);
    // Visible 1000..1400: rows 6..9; prepared 600..1800: rows 4..11.
    EXPECT_EQ(r, (TileRowRange{6, 10, 4, 12}));
    EXPECT_EQ(TileGridLayout::rowOrder(r), (std::vector<long>{4, 5, 11, 10, 9, 8, 7, 6}));
    // At the top nothing is prepared above; at the end nothing below.
    EXPECT_EQ(l.rowsFor(0, 400), (TileRowRange{0, 3, 0, 6}));
    EXPECT_EQ(l.rowsFor(3350, 400), (TileRowRange{22, 25, 19, 25}));
    EXPECT_EQ(TileGridLayout::rowOrder(l.rowsFor(3350, 400)), (std::vector<long>{19, 20, 21, 24, 23, 22}));
    // Every prepared row once, the visible top row last.
    for (double top : {0.0, 75.0, 1234.0, 3000.0}) {
        TileRowRange rr = l.rowsFor(top, 333);
        auto order = TileGridLayout::rowOrder(rr);
        std::set<long> seen(order.begin(), order.end());
        EXPECT_EQ(seen.size(), order.size());
        EXPECT_EQ(long(order.size()), rr.highRow - rr.lowRow);
        EXPECT_EQ(order.back(), rr.firstRow);
    }
    // Five screens of tiles: 400 / 150 rounds up to 3 rows of 4.
    EXPECT_EQ(l.tileCapacity(400), 60u);
    EXPECT_EQ(l.tileCapacity(0), 20u);
}

TEST(TileGridLayout, ScrollAnchorNamesTheFirstVisibleRow) {
    auto paths = names(10);
    TileGridLayout l = TileGridLayout::make(600, nullptr, paths);
    auto a = l.scrollAnchor(160);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->index, 4u);
    EXPECT_DOUBLE_EQ(a->offset, 10);
    EXPECT_FALSE(l.scrollAnchor(450));  // past the end
    EXPECT_EQ(l.indexOf(paths[7]), 7u);
    EXPECT_EQ(l.indexOf(QuickString::bytes("/none")), std::nullopt);
}

// The geometry worked out step by step from the grid's rules, without the
// layout's code: columns and picture size from the width alone, rows of the
// picture and the name's strip.
struct Oracle {
    long columns;
    double side;
    double pitch;
    Oracle(double width, double caption) {
        double target = std::min(std::max(width / 3, 100.0), 150.0);
        double q = width / target;
        columns = long(q - std::floor(q) >= 0.5 ? std::floor(q) + 1 : std::floor(q));
        if (columns < 1) columns = 1;
        side = width / double(columns);
        if (side < 50) side = 50;
        pitch = side + caption;
    }
};

TEST(TileGridLayout, NamesLengthenTheRowsAndNothingElseAndWithoutThemTheRowsAreSquares) {
    auto paths = names(37);
    for (double caption : {0.0, 22.0, 17.5}) {
        for (double width = 1; width <= 1700; width += 7.25) {
            Oracle o(width, caption);
            TileGridLayout l = TileGridLayout::make(width, nullptr, paths, caption);
            ASSERT_EQ(l.columns, o.columns) << width;
            ASSERT_DOUBLE_EQ(l.tileSize, o.side) << width;
            ASSERT_EQ(l.rows, long((37 + o.columns - 1) / o.columns));
            ASSERT_DOUBLE_EQ(l.height(), o.pitch * double(l.rows));
            if (caption == 0) {
                // Exactly the square grid: the same numbers as a layout made
                // without any mention of names.
                TileGridLayout plain = TileGridLayout::make(width, nullptr, paths);
                for (size_t i = 0; i < paths.size(); ++i) ASSERT_EQ(l.cell(i), plain.cell(i));
                ASSERT_EQ(l.height(), plain.height());
                ASSERT_EQ(l.rowsFor(123.37, 456.5), plain.rowsFor(123.37, 456.5));
                ASSERT_EQ(l.tileCapacity(456.5), plain.tileCapacity(456.5));
                auto a = l.scrollAnchor(123.37), b = plain.scrollAnchor(123.37);
                ASSERT_EQ(a.has_value(), b.has_value());
                if (a) {
                    ASSERT_EQ(a->index, b->index);
                    ASSERT_EQ(a->offset, b->offset);
                }
            }
            for (size_t i = 0; i < paths.size(); ++i) {
                TileCell c = l.cell(i);
                ASSERT_DOUBLE_EQ(c.x, o.side * double(i % size_t(o.columns)));
                ASSERT_DOUBLE_EQ(c.y, o.pitch * double(i / size_t(o.columns)));
                ASSERT_DOUBLE_EQ(c.side, o.side);
                ASSERT_DOUBLE_EQ(c.bottom(), c.y + o.pitch);
            }
        }
        // Hit testing against every cell's rectangle, the strip included.
        TileGridLayout l = TileGridLayout::make(610, nullptr, paths, caption);
        for (double y = 0.5; y < l.height() + 40; y += 9.75)
            for (double x = 0.5; x < 650; x += 13.5) {
                std::optional<size_t> found;
                for (size_t i = 0; i < paths.size(); ++i) {
                    TileCell c = l.cell(i);
                    if (x >= c.x && x < c.right() && y >= c.y && y < c.bottom()) found = i;
                }
                ASSERT_EQ(l.indexAt(x, y), found) << x << "," << y;
            }
        // The rows a band touches, by looking at every row.
        for (double top = 0.37; top < l.height(); top += 61.3) {
            const double h = 333.3;
            TileRowRange r = l.rowsFor(top, h);
            long first = -1, last = -1;
            for (long row = 0; row < l.rows; ++row)
                if (l.rowTop(row) < top + h && l.rowTop(row) + l.rowHeight() > top) {
                    if (first < 0) first = row;
                    last = row + 1;
                }
            ASSERT_EQ(r.firstRow, first) << top;
            ASSERT_EQ(r.lastRow, last) << top;
            auto anchor = l.scrollAnchor(top);
            ASSERT_TRUE(anchor);
            ASSERT_EQ(anchor->index, size_t(first) * size_t(l.columns));
            ASSERT_NEAR(anchor->offset, top - l.rowTop(first), 1e-9);
        }
    }
}

// Checked against the band itself: after scrolling to the answer the cell
// (or the files) is where it should be, and nothing moves that needs not.
TEST(TileGridLayout, ScrollTargetsBringACellIntoViewOrCenterFiles) {
    auto paths = names(50);
    for (double caption : {0.0, 22.0}) {
        TileGridLayout l = TileGridLayout::make(600, nullptr, paths, caption);
        const double h = 400;
        for (size_t i = 0; i < paths.size(); i += 3) {
            TileCell c = l.cell(i);
            for (double top = 0; top < l.height(); top += 37) {
                std::optional<double> to = l.topShowing(i, top, h);
                if (c.y >= top && c.bottom() <= top + h) {
                    EXPECT_EQ(to, std::nullopt) << i << " " << top;
                    continue;
                }
                ASSERT_TRUE(to) << i << " " << top;
                EXPECT_GE(c.y, *to);
                EXPECT_LE(c.bottom(), *to + h);
                // The least scrolling that shows it: one edge meets the band's.
                EXPECT_TRUE(c.y == *to || c.bottom() == *to + h);
            }
        }
        EXPECT_EQ(l.topCentering({}, h), std::nullopt);
        // Two rows of pictures fit: as much space above them as below.
        std::optional<double> mid = l.topCentering({21, 26}, h);
        ASSERT_TRUE(mid);
        const double low = l.cell(21).y, high = l.cell(26).y + l.tileSize;
        EXPECT_EQ(*mid, std::trunc(*mid));
        EXPECT_NEAR(low - *mid, *mid + h - high, 1.0);
        EXPECT_EQ(l.topCentering({26, 21}, h), mid);  // in any order
        // Files spread wider than the band: the first row at the top.
        EXPECT_EQ(l.topCentering({5, 45}, h), std::trunc(l.cell(5).y));
    }
}

TEST(TilePool, BindsReusesAndRecyclesLeastRecentlyUsedFirst) {
    TilePool pool;
    std::vector<std::string> recycled;
    pool.recycled = [&](TileId, Tile& t) { recycled.emplace_back(t.path.utf8()); };
    auto p = names(6);
    auto a = pool.bind(p[0], 3);
    auto b = pool.bind(p[1], 3);
    auto c = pool.bind(p[2], 3);
    EXPECT_TRUE(a.isNew && b.isNew && c.isNew);
    EXPECT_EQ(pool.bind(p[0], 3).id, a.id);  // p0 most recently used now
    EXPECT_FALSE(pool.bind(p[0], 3).isNew);
    pool.markWaiting(p[1], b.id);
    pool.markWaiting(p[2], c.id);
    auto d = pool.bind(p[3], 3);  // evicts p1, the least recently used, and reuses its tile
    EXPECT_EQ(recycled, std::vector<std::string>{"/f1"});
    EXPECT_EQ(d.id, b.id);
    EXPECT_TRUE(d.isNew);
    EXPECT_EQ(pool.tile(d.id).path, p[3]);
    EXPECT_EQ(pool.tileCount(), 3u);  // never more tiles than may be bound
    EXPECT_FALSE(pool.isWaiting(p[1]));
    EXPECT_TRUE(pool.isWaiting(p[2]));
    auto e = pool.bind(p[4], 3);  // evicts p2 (waiting: it leaves that list too)
    EXPECT_EQ(e.id, c.id);
    EXPECT_EQ(pool.tileCount(), 3u);
    EXPECT_EQ(pool.boundCount(), 3u);
    EXPECT_EQ(pool.waitingCount(), 0u);
    // A smaller capacity evicts one tile per binding, as the LRU does: p0,
    // the least recently used.
    pool.bind(p[5], 1);
    EXPECT_EQ(recycled.back(), "/f0");
    EXPECT_EQ(pool.tileCount(), 3u);
}

TEST(TilePool, WaitingTilesComeOutMostRecentlyUsedFirst) {
    TilePool pool;
    auto p = names(4);
    std::vector<TileId> ids;
    for (auto& s : p) {
        ids.push_back(pool.bind(s, 10).id);
        pool.markWaiting(s, ids.back());
    }
    pool.bind(p[1], 10);  // touching a bound path touches its waiting entry too
    EXPECT_EQ(pool.takeNextWaiting(), ids[1]);
    EXPECT_EQ(pool.takeNextWaiting(), ids[3]);
    EXPECT_EQ(pool.takeNextWaiting(), ids[2]);
    EXPECT_EQ(pool.takeNextWaiting(), ids[0]);
    EXPECT_EQ(pool.takeNextWaiting(), std::nullopt);
}

}  // namespace
}  // namespace qm
