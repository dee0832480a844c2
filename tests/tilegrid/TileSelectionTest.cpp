#include <gtest/gtest.h>

#include "tilegrid/MovieTime.h"
#include "tilegrid/TileSelection.h"

namespace qm {
namespace {

std::vector<QuickString> names(size_t n) {
    std::vector<QuickString> out;
    for (size_t i = 0; i < n; ++i) out.push_back(QuickString::bytes("/f" + std::to_string(i)));
    return out;
}

QuickStringSet set(const std::vector<QuickString>& p, std::initializer_list<size_t> idx) {
    QuickStringSet s;
    for (size_t i : idx) s.insert(p[i]);
    return s;
}

using Mods = TileSelection::Modifiers;
using Effect = TileSelection::Click::Effect;

TEST(TileSelection, ClicksRangesAndToggles) {
    auto p = names(10);
    TileSelection s;
    QuickStringSet sel;
    auto click = [&](std::optional<size_t> i, Mods m, TileZone z = TileZone::body) {
        auto c = s.mouseDown(i, z, m, p, sel);
        if (c.effect == Effect::select) sel = c.selection;
        return c;
    };
    // Shift-click without an anchor is a plain click and sets the anchor.
    click(3, {true, false});
    EXPECT_EQ(sel, set(p, {3}));
    EXPECT_EQ(s.anchor, p[3]);
    click(6, {true, false});
    EXPECT_EQ(sel, set(p, {3, 4, 5, 6}));
    click(1, {true, false});  // the anchor stays
    EXPECT_EQ(sel, set(p, {1, 2, 3}));
    // Ctrl toggles and moves the anchor.
    click(8, {false, true});
    EXPECT_EQ(sel, set(p, {1, 2, 3, 8}));
    EXPECT_EQ(s.anchor, p[8]);
    click(2, {false, true});
    EXPECT_EQ(sel, set(p, {1, 3, 8}));
    // Ctrl-Shift with an unselected anchor removes the range, and drops the anchor.
    click(5, {true, true});  // anchor 2 is unselected: 2..5 leave
    EXPECT_EQ(sel, set(p, {1, 8}));
    EXPECT_FALSE(s.anchor);
    click(9, {false, true});  // anchor 9, selected
    click(7, {true, true});   // adds 7..9
    EXPECT_EQ(sel, set(p, {1, 7, 8, 9}));
    // A plain click on a selected tile keeps the multiple selection (for dragging).
    auto c = click(7, {});
    EXPECT_EQ(c.effect, Effect::none);
    EXPECT_EQ(sel.size(), 4u);
    click(4, {});
    EXPECT_EQ(sel, set(p, {4}));
    // Shift-click after the anchor's file left the node: a plain click.
    auto shorter = std::vector<QuickString>(p.begin(), p.begin() + 4);
    auto c2 = s.mouseDown(2, TileZone::body, {true, false}, shorter, sel);
    EXPECT_EQ(c2.selection, set(p, {2}));
    // Outside every tile: empty selection, but not with Shift.
    sel = set(p, {1});
    EXPECT_EQ(s.mouseDown(std::nullopt, TileZone::body, {true, false}, p, sel).effect, Effect::none);
    auto out = s.mouseDown(std::nullopt, TileZone::body, {}, p, sel);
    EXPECT_EQ(out.effect, Effect::select);
    EXPECT_TRUE(out.selection.empty());
    EXPECT_FALSE(s.anchor);
    EXPECT_FALSE(s.cursor);
}

TEST(TileSelection, CheckBoxModeAndStarZone) {
    auto p = names(6);
    TileSelection s;
    QuickStringSet sel = set(p, {0});
    auto c = s.mouseDown(2, TileZone::check, {}, p, sel);
    EXPECT_TRUE(s.isUsingCheckBoxes);
    EXPECT_EQ(c.selection, set(p, {0, 2}));
    sel = c.selection;
    // In check-box mode any click toggles; a selected tile leaves on mouse-up.
    c = s.mouseDown(4, TileZone::body, {}, p, sel);
    sel = c.selection;
    EXPECT_EQ(sel, set(p, {0, 2, 4}));
    c = s.mouseDown(2, TileZone::body, {}, p, sel);
    EXPECT_EQ(c.selection, sel);  // still selected until the button comes up
    auto up = s.mouseUp(sel);
    ASSERT_TRUE(up);
    EXPECT_EQ(*up, set(p, {0, 4}));
    // A drag in between keeps it.
    sel = *up;
    s.mouseDown(4, TileZone::body, {}, p, sel);
    s.itemToRemoveOnMouseUp.reset();  // what a drag does
    EXPECT_FALSE(s.mouseUp(sel));
    // The star zone toggles the star and leaves the selection alone.
    TileSelection t;
    c = t.mouseDown(1, TileZone::star, {}, p, sel);
    EXPECT_EQ(c.effect, Effect::toggleStar);
    EXPECT_EQ(c.path, p[1]);
    EXPECT_EQ(tileZoneAt(29, 29, 150), TileZone::check);
    EXPECT_EQ(tileZoneAt(120, 0, 150), TileZone::star);
    EXPECT_EQ(tileZoneAt(119.9, 0, 150), TileZone::body);
    EXPECT_EQ(tileZoneAt(130, 30, 150), TileZone::body);
}

TEST(TileSelection, CursorIndexAnchorsAndOutsideChanges) {
    auto p = names(10);
    TileSelection s;
    EXPECT_EQ(s.cursorIndex(p, {}), std::nullopt);
    QuickStringSet sel = s.selectIndex(5, false, p);
    sel = s.selectIndex(8, true, p);
    EXPECT_EQ(sel, set(p, {5, 6, 7, 8}));
    EXPECT_EQ(s.cursorIndex(p, sel), 8u);
    s.cursor.reset();  // without the cursor: the end farthest from the anchor
    EXPECT_EQ(s.cursorIndex(p, sel), 8u);
    s.anchor = p[8];
    EXPECT_EQ(s.cursorIndex(p, sel), 5u);
    s.anchor.reset();
    EXPECT_EQ(s.cursorIndex(p, sel), 5u);
    // Someone else changed the selection: cursor and anchor go.
    s.cursor = p[5];
    s.anchor = p[5];
    s.noticeSelection(sel);  // the grid's own: kept
    EXPECT_TRUE(s.anchor);
    s.noticeSelection(set(p, {1}));
    EXPECT_FALSE(s.anchor);
    EXPECT_FALSE(s.cursor);
}

TEST(TileSelection, ArrowsStopAtTheEdges) {
    // 10 files in 4 columns: rows 0..3, 4..7, 8..9.
    const size_t n = 10, C = 4, R = 3;
    auto at = [&](TileArrow a, std::optional<size_t> k, bool cmd = false) {
        return tileArrowTarget(a, k, n, C, R, cmd);
    };
    using A = TileArrow;
    EXPECT_EQ(at(A::right, 9), 9u);          // the last tile stays
    EXPECT_EQ(at(A::right, 3), 4u);          // wraps into the next row
    EXPECT_EQ(at(A::left, 0), 0u);
    EXPECT_EQ(at(A::left, 4), 3u);
    EXPECT_EQ(at(A::down, 6), 6u);           // the last row lacks column 2: stays in the row above
    EXPECT_EQ(at(A::down, 5), 9u);
    EXPECT_EQ(at(A::down, 2), 6u);
    EXPECT_EQ(at(A::up, 1), 1u);
    EXPECT_EQ(at(A::up, 9), 5u);
    EXPECT_EQ(at(A::down, std::nullopt), 0u);
    EXPECT_EQ(at(A::down, std::nullopt, true), 8u);  // first tile of the last row
    EXPECT_EQ(at(A::right, std::nullopt, true), 3u);
    EXPECT_EQ(at(A::left, 6, true), 4u);
    EXPECT_EQ(at(A::right, 5, true), 7u);
    EXPECT_EQ(at(A::right, 8, true), 9u);    // the row's end is past the list
    EXPECT_EQ(at(A::up, 9, true), 1u);
    EXPECT_EQ(at(A::down, 1, true), 9u);
    EXPECT_EQ(at(A::down, 3, true), 7u);
    EXPECT_EQ(tileArrowTarget(A::down, 0, 1, 4, 1, false), 0u);
    // Every target is a valid index (brute force over small grids).
    for (size_t nn = 1; nn < 14; ++nn)
        for (size_t c = 1; c < 6; ++c)
            for (size_t k = 0; k < nn; ++k)
                for (A a : {A::left, A::right, A::up, A::down})
                    for (bool cmd : {false, true}) {
                        size_t r = (nn + c - 1) / c;
                        size_t t = tileArrowTarget(a, k, nn, c, r, cmd);
                        ASSERT_LT(t, nn);
                        if (a == A::up || a == A::down) {
                            EXPECT_EQ(t % c, k % c);
                        }
                    }
}

TEST(MovieTime, RoundsToWholeSeconds) {
    EXPECT_EQ(formatMovieTime(2.5), "0:03");
    EXPECT_EQ(formatMovieTime(59.6), "1:00");
    EXPECT_EQ(formatMovieTime(75), "1:15");
    EXPECT_EQ(formatMovieTime(3600), "1:00:00");
    EXPECT_EQ(formatMovieTime(3725.2), "1:02:05");
    EXPECT_EQ(formatMovieTime(0), "0:00");
    EXPECT_EQ(formatMovieTime(-3), "0:00");
}

}  // namespace
}  // namespace qm
