// The preview panel on files made by real tools: read off the main thread,
// by the name's bytes, never playing playlists, saying when a file cannot be
// displayed. (Sounds are not played here: constructing Qt's media player
// crashes inside its GStreamer plugin on this machine.)
#include <gtest/gtest.h>

#include <QTest>

#include <filesystem>
#include <string>

#include "desktop/ThumbnailTestSupport.h"
#include "support/TempDir.h"
#include "tilegrid/PreviewContent.h"
#include "tilegrid/TilePreview.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

bool becomes(TilePreview& p, const QString& mode) {
    return waitUntil([&] { return p.mode() == mode; }, std::chrono::seconds(30));
}

// What the reader hands the panel, without a player: a playlist, by its
// name or by its contents under a sound's name, is information only, while a
// real sound is handed over as its open file.
TEST(TilePreview, PlaylistsAreNeverHandedToThePlayer) {
    TempDir dir("qm-preview");
    writeFile(dir / "radio.m3u", "#EXTM3U\nhttp://127.0.0.1:9/stream.mp3\n");
    writeFile(dir / "radio.pls", "[playlist]\nFile1=http://127.0.0.1:9/stream.mp3\nNumberOfEntries=1\n");
    writeFile(dir / "song.mp3", "#EXTM3U\nhttp://127.0.0.1:9/stream.mp3\n");
    for (const char* name : {"radio.m3u", "radio.pls", "song.mp3"}) {
        PreviewContent c = PreviewContent::load((dir / name).string(), QSize(800, 600));
        EXPECT_EQ(c.kind, PreviewContent::Kind::info) << name;
        EXPECT_FALSE(c.file) << name;
        EXPECT_FALSE(c.cannotDisplay) << name;
    }
    if (!hasTool("ffmpeg")) GTEST_SKIP() << "needs ffmpeg for a real sound";
    const fs::path tone = dir / "tone.wav";
    ASSERT_TRUE(sh("ffmpeg -loglevel error -f lavfi -i sine=frequency=440:duration=1 " + shellQuote(tone)));
    PreviewContent sound = PreviewContent::load(tone.string(), QSize(800, 600));
    EXPECT_EQ(sound.kind, PreviewContent::Kind::media);
    EXPECT_TRUE(sound.isSound);
    ASSERT_TRUE(sound.file);
    EXPECT_TRUE(sound.file->valid());
}

TEST(TilePreview, ReadsFilesOffTheMainThreadByTheirBytesAndNeverPlaysPlaylists) {
    if (!hasTool("convert")) GTEST_SKIP() << "needs ImageMagick";
    TempDir dir("qm-preview");
    const fs::path photo = dir / "photo.png";
    ASSERT_TRUE(sh("convert -size 2400x1600 gradient:red-blue -depth 8 " + shellQuote(photo)));
    TilePreview preview;

    // The panel comes up at once and the picture follows from the reader.
    preview.showFile(photo.string(), false);
    EXPECT_EQ(preview.mode(), "loading");
    ASSERT_TRUE(becomes(preview, "image"));

    // A name that is not UTF-8 opens as itself.
    const fs::path latin1 = dir / std::string("caf\xE9 \xFF.png");
    fs::copy_file(photo, latin1);
    preview.showFile(latin1.string(), false);
    EXPECT_TRUE(becomes(preview, "image"));

    // Playlists are not handed to the player, whatever their name says: their
    // entries may be network addresses.
    writeFile(dir / "radio.m3u", "#EXTM3U\nhttp://127.0.0.1:9/stream.mp3\n");
    writeFile(dir / "radio.pls", "[playlist]\nFile1=http://127.0.0.1:9/stream.mp3\nNumberOfEntries=1\n");
    writeFile(dir / "song.mp3", "#EXTM3U\nhttp://127.0.0.1:9/stream.mp3\n");
    for (const char* name : {"radio.m3u", "radio.pls", "song.mp3"}) {
        preview.showFile((dir / name).string(), false);
        ASSERT_TRUE(becomes(preview, "info")) << name;
        EXPECT_TRUE(preview.mediaSource().isEmpty()) << name;
        EXPECT_TRUE(preview.infoText().startsWith(QString::fromLatin1(name))) << name;
    }

    // A picture that does not decode says so, with the information pane.
    ASSERT_TRUE(sh("head -c 300 " + shellQuote(photo) + " > " + shellQuote(dir / "broken.png")));
    preview.showFile((dir / "broken.png").string(), false);
    ASSERT_TRUE(becomes(preview, "info"));
    EXPECT_TRUE(preview.infoText().contains("cannot be displayed")) << preview.infoText().toStdString();

    // Moving on while a large picture still loads shows the latest file only.
    preview.showFile(photo.string(), false);
    preview.showFile((dir / "radio.m3u").string(), false);
    ASSERT_TRUE(becomes(preview, "info"));
    QTest::qWait(300);
    EXPECT_EQ(preview.mode(), "info");
    preview.showFile(std::nullopt, false);
    EXPECT_EQ(preview.mode(), "empty");
}

}  // namespace
}  // namespace qm::test
