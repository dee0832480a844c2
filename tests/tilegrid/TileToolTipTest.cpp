// A tile's tooltip: what it says (checked as a person reads it, through the
// rich text's plain form), and the size and date read from the real file
// system, compared with what the file system itself reports.
#include <gtest/gtest.h>

#include <QTextDocument>

#include <chrono>
#include <filesystem>
#include <system_error>

#include "support/TempDir.h"
#include "tilegrid/TileToolTip.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

QString shown(const QString& richText) {
    QTextDocument doc;
    doc.setHtml(richText);
    return doc.toPlainText();
}

TEST(TileToolTip, SaysNameFolderSizeDateTagsAndDurationOrPlaceAsWritten) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    TileFacts f;
    f.path = "/home/u/Pictures/<b>bold<i> & \"co\".jpg";
    f.didReadFile = true;
    f.size = 1234567;
    f.modified = QDateTime(QDate(2024, 6, 15), QTime(14, 35), Qt::UTC);
    f.tags = {"Trips/Rome", "<i>x</i>", "\xe2\x98\x85"};
    f.duration = 75;
    f.gps = GPS{.latitude = 48.8566, .longitude = 2.3522};
    const QString text = shown(TileToolTip::text(f, english));
    const QStringList lines = text.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 7) << text.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("<b>bold<i> & \"co\".jpg"));
    EXPECT_EQ(lines[1], QStringLiteral("Folder: /home/u/Pictures"));
    EXPECT_EQ(lines[2], QStringLiteral("Size: 1.2 MB (1,234,567 bytes)"));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("Modified: "))) << lines[3].toStdString();
    EXPECT_TRUE(lines[3].contains(english.toString(f.modified->date(), QLocale::ShortFormat)))
        << lines[3].toStdString();
    EXPECT_EQ(lines[4], QString::fromUtf8("Tags: Trips/Rome, <i>x</i>, \xe2\x98\x85"));
    EXPECT_EQ(lines[5], QStringLiteral("Duration: 1:15"));
    EXPECT_EQ(lines[6], QStringLiteral("Place: 48.85660, 2.35220"));
    f.placeName = "Paris, \xc3\x8e" "le-de-France, France";
    EXPECT_TRUE(shown(TileToolTip::text(f, english)).endsWith(QString::fromUtf8("Place: Paris, Île-de-France, France")));

    // Only what the file has: a document with no tags, no duration, no place,
    // whose size is not known (yet).
    TileFacts doc;
    doc.path = "/home/u/Documents/line\nbreak.pdf";
    const QStringList short_ = shown(TileToolTip::text(doc, english)).split(QLatin1Char('\n'));
    ASSERT_EQ(short_.size(), 2);
    EXPECT_EQ(short_[0], QString::fromUtf8("line\xef\xbf\xbd" "break.pdf"));
    EXPECT_EQ(short_[1], QStringLiteral("Folder: /home/u/Documents"));
    TileFacts top;
    top.path = "/vmlinuz";
    EXPECT_TRUE(shown(TileToolTip::text(top, english)).endsWith(QStringLiteral("Folder: /")));
}

TEST(TileToolTip, SizeAndDateComeFromTheFileSystem) {
    test::TempDir dir("qm-tooltip");
    const fs::path file = dir / "photo.jpg";
    test::writeFile(file, std::string(54321, 'x'));
    const auto when = fs::file_time_type::clock::now() - std::chrono::hours(49);
    fs::last_write_time(file, when);
    TileFacts f;
    f.path = file.string();
    TileToolTip::readFile(f);
    EXPECT_TRUE(f.didReadFile);
    EXPECT_FALSE(f.isDirectory);
    EXPECT_EQ(f.size, fs::file_size(file));
    const auto expected = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::file_clock::to_sys(fs::last_write_time(file)).time_since_epoch());
    ASSERT_TRUE(f.modified);
    EXPECT_EQ(f.modified->toMSecsSinceEpoch(), expected.count());

    // A folder has no size; a link shows its target; a dangling link itself;
    // a missing file nothing.
    fs::create_directory(dir / "sub");
    TileFacts folder;
    folder.path = (dir / "sub").string();
    TileToolTip::readFile(folder);
    EXPECT_TRUE(folder.isDirectory);
    EXPECT_FALSE(folder.size);
    EXPECT_TRUE(folder.modified);
    fs::create_symlink(file, dir / "link.jpg");
    TileFacts link;
    link.path = (dir / "link.jpg").string();
    TileToolTip::readFile(link);
    EXPECT_EQ(link.size, 54321u);
    fs::create_symlink(dir / "gone", dir / "dangling");
    TileFacts dangling;
    dangling.path = (dir / "dangling").string();
    TileToolTip::readFile(dangling);
    EXPECT_TRUE(dangling.didReadFile);
    EXPECT_EQ(dangling.size, (dir / "gone").string().size());  // a link's size is its target's name
    TileFacts missing;
    missing.path = (dir / "missing").string();
    TileToolTip::readFile(missing);
    EXPECT_FALSE(missing.didReadFile);
    EXPECT_FALSE(missing.size);
    EXPECT_FALSE(missing.modified);
}

}  // namespace
}  // namespace qm
