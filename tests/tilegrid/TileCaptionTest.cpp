// The names under the tiles: hostile names show as one honest line, long
// names in every script are shortened in the middle to fit (measured with
// the real font), and the colours read in light and dark palettes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetricsF>
#include <QStyle>
#include <QStyleFactory>

#include <memory>

#include "desktop/TextContrast.h"
#include "tilegrid/TileCaption.h"

namespace qm {
namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

TEST(TileCaption, HostileNamesShowAsOneLineThatCannotPassForAnother) {
    const QChar bad(QChar::ReplacementCharacter);
    EXPECT_EQ(TileCaption::displayName("/home/u/line\nbreak.txt"), u("line") + bad + u("break.txt"));
    EXPECT_EQ(TileCaption::displayName("/home/u/tab\tand\rcr\x7f.txt"),
              u("tab") + bad + u("and") + bad + u("cr") + bad + u(".txt"));
    // Right-to-left override: would read as "invoiceexe.pdf".
    EXPECT_EQ(TileCaption::displayName("/d/invoice\xe2\x80\xae" "fdp.exe"), u("invoice") + bad + u("fdp.exe"));
    EXPECT_EQ(TileCaption::displayName("/d/a\xe2\x81\xa6" "b\xe2\x81\xa9.txt"), u("a") + bad + u("b") + bad + u(".txt"));
    // Bytes that are not UTF-8 (a name from an old Latin-1 disk).
    QString latin = TileCaption::displayName("/d/\xe9t\xe9.jpg");
    EXPECT_TRUE(latin.startsWith(bad));
    EXPECT_TRUE(latin.endsWith(u("t") + bad + u(".jpg")));
    // Names in every script stay exactly as written, the emoji's surrogate pair included.
    for (const char* name : {"日本語の写真.heic", "Ελληνικά νησιά.png", "صورة العائلة.jpg", "תמונה.jpg",
                             "Фото з відпустки.JPG", "😀 party 🎉.jpg", "नमस्ते.pdf", "e\xcc\x81t\xc3\xa9.txt",
                             "a\xe2\x80\x8f" "b.txt" /* a right-to-left mark is harmless */}) {
        EXPECT_EQ(TileCaption::displayName(std::string("/home/u/") + name), u(name)) << name;
    }
    EXPECT_EQ(TileCaption::displayName("plain"), u("plain"));
    EXPECT_EQ(TileCaption::displayText("/home/u/new\nfolder"), u("/home/u/new") + bad + u("folder"));
}

TEST(TileCaption, LongNamesInEveryScriptFitAndKeepTheirStartAndExtension) {
    const QFont font = QApplication::font();
    const QFontMetricsF metrics(font);
    const double height = TileCaption::height(metrics);
    EXPECT_EQ(height, std::ceil(height));
    EXPECT_GE(height, metrics.height() + 2 * TileCaption::kPadding);
    const QString ellipsis(QChar(0x2026));
    for (const char* name : {"IMG_20240615_143512_HDR_panorama_final_version_2.jpg",
                             "日本語の写真とても長い名前のファイルです.heic", "صورة العائلة الكبيرة في الحديقة العامة.jpg",
                             "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW.pdf", "😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀.png"}) {
        const QString full = u(name);
        const QString extension = full.mid(full.lastIndexOf(QLatin1Char('.')));
        for (double width : {60.0, 92.0, 142.0, 300.0, 4000.0}) {
            QString shown = TileCaption::elided(full, metrics, width);
            EXPECT_LE(metrics.horizontalAdvance(shown), width + 0.5) << name << " at " << width;
            if (metrics.horizontalAdvance(full) <= width) {
                EXPECT_EQ(shown, full);
                continue;
            }
            ASSERT_TRUE(shown.contains(ellipsis)) << name << " at " << width;
            // Wide enough for more than the ellipsis: both ends show.
            if (width >= 142) {
                EXPECT_TRUE(shown.startsWith(full.left(2))) << name << " at " << width;
                EXPECT_TRUE(shown.endsWith(extension)) << name << " at " << width;
            }
        }
    }
    EXPECT_LE(metrics.horizontalAdvance(TileCaption::elided(u("abcdef.jpg"), metrics, -5)), 0.5);
}

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

// The grid's selection overlay: the accent at full saturation and
// brightness (focused), a grey otherwise.
QColor focusedSelection(const QPalette& p) {
    QColor accent = p.color(QPalette::Highlight).toHsv();
    if (accent.hsvSaturationF() < 0.1f) return QColor::fromRgbF(0.5f, 0.5f, 0.5f, 0.7f);
    return QColor::fromHsvF(accent.hsvHueF(), 1, 1, 0.7f);
}

TEST(TileCaption, NamesReadInLightAndDarkThemesSelectedOrNot) {
    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    struct Theme {
        const char* name;
        QPalette palette;
    };
    for (const Theme& t : {Theme{"Fusion", fusion->standardPalette()},
                           Theme{"Breeze", themed("#fcfcfc", "#232629", "#3daee9", "#fcfcfc")},
                           Theme{"Breeze Dark", themed("#1b1e20", "#fcfcfc", "#3daee9", "#fcfcfc")},
                           Theme{"Adwaita", themed("#ffffff", "#2e3436", "#3584e4", "#ffffff")},
                           Theme{"Adwaita Dark", themed("#2d2d2d", "#eeeeec", "#15539e", "#ffffff")},
                           Theme{"Yellow accent", themed("#ffffff", "#000000", "#ffd400", "#ffffff")},
                           Theme{"Grey accent", themed("#202020", "#f0f0f0", "#777777", "#ffffff")}}) {
        const QColor base = t.palette.color(QPalette::Base);
        TileCaption::Colors plain = TileCaption::colors(t.palette, std::nullopt);
        EXPECT_FALSE(plain.fill) << t.name;
        EXPECT_EQ(plain.text, t.palette.color(QPalette::Text)) << t.name;
        EXPECT_GE(TextContrast::ratio(plain.text, base), TextContrast::minimumRatio) << t.name;
        for (QColor selection : {focusedSelection(t.palette), QColor::fromRgbF(0.45f, 0.45f, 0.45f, 0.8f)}) {
            TileCaption::Colors selected = TileCaption::colors(t.palette, selection);
            ASSERT_TRUE(selected.fill) << t.name;
            EXPECT_EQ(selected.fill->alpha(), 255) << t.name;
            EXPECT_GE(TextContrast::ratio(selected.text, *selected.fill), TextContrast::minimumRatio - 1e-6)
                << t.name << " on " << selection.name(QColor::HexArgb).toStdString();
        }
    }
}

}  // namespace
}  // namespace qm
