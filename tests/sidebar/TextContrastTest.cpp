// Text contrast in light and dark themes: the ratio against published
// values, the adjusted colours against the ratio they promise, and the
// sidebar's real drawing of a focused selected row in a dark theme whose own
// selection colour is too light for its text.
#include <gtest/gtest.h>

#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

#include <memory>

#include "SidebarHarness.h"
#include "sidebar/SidebarView.h"
#include "desktop/TextContrast.h"

using namespace qm;
using namespace qm::test;

namespace {

struct Theme {
    const char* name;
    QPalette palette;
};

QPalette themed(const char* base, const char* text, const char* highlight, const char* highlightedText) {
    QPalette p;
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Base, QColor(base));
        p.setColor(group, QPalette::Window, QColor(base));
        p.setColor(group, QPalette::Text, QColor(text));
        p.setColor(group, QPalette::WindowText, QColor(text));
        p.setColor(group, QPalette::Highlight, QColor(highlight));
        p.setColor(group, QPalette::HighlightedText, QColor(highlightedText));
    }
    return p;
}

std::vector<Theme> themes() {
    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    return {
        {"Fusion", fusion->standardPalette()},
        {"Breeze", themed("#fcfcfc", "#232629", "#3daee9", "#fcfcfc")},
        {"Breeze Dark", themed("#1b1e20", "#fcfcfc", "#3daee9", "#fcfcfc")},
        {"Adwaita", themed("#ffffff", "#2e3436", "#3584e4", "#ffffff")},
        {"Adwaita Dark", themed("#2d2d2d", "#eeeeec", "#15539e", "#ffffff")},
    };
}

}  // namespace

TEST(TextContrast, RatioMatchesTheGuidelinesFigures) {
    EXPECT_NEAR(TextContrast::ratio(Qt::black, Qt::white), 21, 1e-9);
    EXPECT_NEAR(TextContrast::ratio(Qt::white, Qt::white), 1, 1e-9);
    EXPECT_NEAR(TextContrast::ratio(QColor("#767676"), Qt::white), 4.54, 0.01);  // the lightest AA grey on white
    EXPECT_NEAR(TextContrast::ratio(QColor("#777777"), Qt::white), 4.48, 0.01);
    EXPECT_EQ(TextContrast::composite(QColor(0, 0, 0, 0), Qt::white), QColor(Qt::white));
}

TEST(TextContrast, EveryThemesSidebarTextMeetsTheRatio) {
    for (const Theme& theme : themes()) {
        SCOPED_TRACE(theme.name);
        const QPalette& p = theme.palette;
        const QColor base = p.color(QPalette::Base), text = p.color(QPalette::Text);
        const QColor highlight = p.color(QPalette::Active, QPalette::Highlight);
        const QColor selected = p.color(QPalette::Active, QPalette::HighlightedText);
        ASSERT_GE(TextContrast::ratio(text, base), 4.5);  // the theme's own body text

        // The selection: kept when it reads, otherwise moved just far enough.
        QColor fill = TextContrast::fillForText(highlight, selected);
        EXPECT_GE(TextContrast::ratio(fill, selected), 4.5);
        if (TextContrast::ratio(highlight, selected) >= 4.5) EXPECT_EQ(fill, highlight.toRgb());
        else EXPECT_LT(TextContrast::ratio(fill, selected), 4.7);  // no further than needed

        // Dimmed counts, "(empty)" and the results header on the background,
        // and on the unfocused selection.
        const QColor unfocused = TextContrast::composite(QColor::fromRgbF(text.redF(), text.greenF(), text.blueF(), 0.12f), base);
        for (double alpha : {0.3, 0.375, 0.5}) {
            for (const QColor& bg : {base, unfocused}) {
                QColor dim = TextContrast::dimmed(text, bg, alpha);
                EXPECT_GE(TextContrast::ratio(TextContrast::composite(dim, bg), bg), 4.5) << alpha;
                EXPECT_GE(dim.alphaF(), alpha - 1e-6);
                if (dim.alphaF() > alpha + 0.01) {
                    QColor less = dim;
                    less.setAlphaF(dim.alphaF() - 0.01f);
                    EXPECT_LT(TextContrast::ratio(TextContrast::composite(less, bg), bg), 4.5);
                }
            }
        }
    }
    // A wish that can be met is kept as it is.
    EXPECT_NEAR(TextContrast::dimmed(Qt::black, Qt::white, 0.9).alphaF(), 0.9, 1e-4);
}

TEST(TextContrast, FocusedSelectedRowIsDrawnReadableInADarkTheme) {
    SidebarHarness h;
    h.loadTags({{"Work"}});
    SidebarView view(h.window);
    Theme dark = themes()[2];
    view.setPalette(dark.palette);
    h.window->setExpanded(Q("Tags"), true);
    h.window->setCurrentNode(P({"Tags", "Work"}));
    showActive(view);
    view.setFocus();
    ASSERT_TRUE(view.hasKeyFocus());
    auto row = view.rows().indexOfPath(*h.tree().rootNode(), P({"Tags", "Work"}));
    ASSERT_TRUE(row);
    QImage shot = view.viewport()->grab().toImage();
    int y = int(view.layout().rowTop(*row) + 2) - view.scrollOffset();
    QColor drawn = shot.pixelColor(int(SidebarLayout::selectionInset) + 8, y);
    EXPECT_NE(drawn, dark.palette.color(QPalette::Highlight));  // the theme's own is too light
    EXPECT_GE(TextContrast::ratio(drawn, dark.palette.color(QPalette::HighlightedText)), 4.5);
}
