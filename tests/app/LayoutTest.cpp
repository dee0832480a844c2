// The plain geometry of the shell: cascade placement, the content modes and
// the rename alert's texts.

#include <gtest/gtest.h>

#include "app/CascadePlacement.h"
#include "app/ContentLayout.h"
#include "app/RenameConflictText.h"
#include "app/Theme.h"

namespace qm {
namespace {

TEST(LayoutTest, CascadeMovesRightAndDownAndWrapsAtTheScreenEdges) {
    const QRect visible(0, 30, 1600, 970);  // a panel at the top
    const QSize size(1024, 700);
    // Plenty of room: one title bar to the right and down.
    EXPECT_EQ(cascadeOrigin(QRect(QPoint(100, 100), size), 28, size, visible), QPoint(128, 128));
    // Past the right edge: back by the visible width less the window's.
    EXPECT_EQ(cascadeOrigin(QRect(QPoint(560, 100), size), 28, size, visible), QPoint(588 - 576, 128));
    // Exactly at the right edge stays.
    EXPECT_EQ(cascadeOrigin(QRect(QPoint(548, 100), size), 28, size, visible), QPoint(576, 128));
    // Past the bottom: up by the visible height less the window's.
    EXPECT_EQ(cascadeOrigin(QRect(QPoint(100, 290), size), 28, size, visible), QPoint(128, 318 - 270));
    // Both at once, on a second screen to the right.
    const QRect right(1600, 0, 1280, 1024);
    EXPECT_EQ(cascadeOrigin(QRect(QPoint(1900, 330), size), 30, size, right),
              QPoint(1930 - 256, 360 - 324));
}

TEST(LayoutTest, ContentModesAndTheGridsFrame) {
    EXPECT_EQ(contentModeFor(false, false), TileGridConstraints::full);
    EXPECT_EQ(contentModeFor(false, true), TileGridConstraints::full);
    EXPECT_EQ(contentModeFor(true, true), TileGridConstraints::partial);
    EXPECT_EQ(contentModeFor(true, false), TileGridConstraints::hidden);
    const QRect area(0, 0, 800, 600);
    EXPECT_EQ(tileGridFrame(TileGridConstraints::full, area), area);
    // 300 wide, 30 from the right and the bottom, 60 from the top.
    EXPECT_EQ(tileGridFrame(TileGridConstraints::partial, area), QRect(470, 60, 300, 510));
    EXPECT_TRUE(tileGridFrame(TileGridConstraints::hidden, area).isEmpty());
}

TEST(LayoutTest, RenameConflictTexts) {
    auto one = renameConflictText({{"x \"y\".txt", "x \"y\" copy.txt"}});
    EXPECT_EQ(one.message, "The file \"x \"y\".txt\" already exists in the destination. Rename it to \"x \"y\" "
                           "copy.txt\" to avoid a conflict?");
    EXPECT_EQ(one.details, "");
    auto many = renameConflictText({{"b", "b copy"}, {"a", "a copy"}});
    EXPECT_EQ(many.details, "a  \u2192  a copy\nb  \u2192  b copy");
}

TEST(LayoutTest, ThemeNamesAndSegments) {
    EXPECT_EQ(themeFromString("light"), Theme::light);
    EXPECT_EQ(themeFromString("dark"), Theme::dark);
    EXPECT_EQ(themeFromString("auto"), Theme::automatic);
    EXPECT_EQ(themeFromString("Dark"), std::nullopt);
    EXPECT_EQ(themeFromString(""), std::nullopt);
    EXPECT_STREQ(themeString(Theme::automatic), "auto");
    EXPECT_EQ(themeFromSegment(1), Theme::dark);
    EXPECT_EQ(themeFromSegment(-1), std::nullopt);
    EXPECT_EQ(themeFromSegment(3), std::nullopt);
}

}  // namespace
}  // namespace qm
