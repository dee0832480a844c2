// The desktop's thumbnailer programs behind the thumbnail service: an entry of the
// test's own (a script that checks what it was given and how it was started) and a
// real one Debian ships (the font viewer's, on a font Debian ships).
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "desktop/ExternalThumbnailer.h"
#include "desktop/ThumbnailCache.h"
#include "desktop/ThumbnailService.h"
#include "desktop/ThumbnailTestSupport.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using namespace qm;
using namespace qm::test;

namespace {

const auto* const kGui = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

ThumbnailResult requestSync(ThumbnailService& service, const std::string& path) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto got = std::make_shared<ThumbnailResult>();
    service.request(path, {256, 256}, [done, got](const ThumbnailResult& r) {
        *got = r;
        done->store(true);
    });
    EXPECT_TRUE(waitUntil([&] { return done->load(); }, std::chrono::seconds(60))) << path;
    return *got;
}

// A thumbnailer of the test's own, outside /usr as a user's would be. It exits
// with a code naming the first check that fails, else draws a green image half
// as high as the size it was asked for.
fs::path writeScript(const fs::path& file, const std::string& body) {
    fs::create_directories(file.parent_path());
    writeFile(file, "#!/bin/sh\n" + body);
    fs::permissions(file, fs::perms::owner_all);
    return file;
}

const char* kChecks =
    "[ -r \"$1\" ] || exit 11\n"
    "case \"$4\" in file:///*) ;; *) exit 12 ;; esac\n"
    "[ -e /proc/$$/fd/200 ] && exit 13\n"
    "[ \"$(ulimit -v)\" = unlimited ] && exit 14\n"
    "[ \"$(readlink /proc/$$/fd/0)\" = /dev/null ] || exit 16\n";

void writeEntry(const fs::path& dir, const std::string& name, const fs::path& program,
                const std::string& types) {
    fs::create_directories(dir);
    writeFile(dir / (name + ".thumbnailer"), "[Thumbnailer Entry]\nTryExec=" + program.string() +
                                                 "\nExec=\"" + program.string() +
                                                 "\" %i %o %s %u\nMimeType=" + types + "\n");
}

}  // namespace

TEST(ExternalThumbnailer, TheDesktopsEntriesDrawWhatNoDecoderOfOursReads) {
    if (!hasTool("convert")) GTEST_SKIP() << "ImageMagick missing";
    TempDir dir;
    const fs::path data = dir / "data/thumbnailers";
    std::string checks = kChecks;
    // Inside the sandbox nothing of the home is there but the input.
    const bool sandboxed = ExternalThumbnailer::sandboxAvailable();
    const fs::path secret = fs::path(getenv("HOME")) / "secret.txt";
    writeFile(secret, "private");
    if (sandboxed) checks += "[ -e '" + secret.string() + "' ] && exit 15\n";
    const fs::path good =
        writeScript(dir / "bin/draw thumbnail", checks +
                                                    "exec convert -size \"${3}x$(($3 / 2))\" "
                                                    "xc:'#00ff00' \"$2\"\n");
    const fs::path failing = writeScript(dir / "bin/fail", "exit 1\n");
    writeEntry(data, "table", good, "text/csv;");
    writeEntry(data, "notes", failing, "text/markdown;");

    // A descriptor of ours without close-on-exec: the program must not see it.
    int leaked = ::open(dir.path().c_str(), O_RDONLY);
    ASSERT_EQ(::dup2(leaked, 200), 200);
    ThumbnailService service(2, ThumbnailCache(), ExternalThumbnailer(DesktopThumbnailers({data}), {}));
    const fs::path table = dir / "Rechnung \"März\" $(touch pwned) 'x';\nneu \xff.csv";
    writeFile(table, "a,b\n1,2\n");
    ThumbnailResult made = requestSync(service, table.string());
    EXPECT_EQ(made.origin, ThumbnailResult::Origin::decoded);
    EXPECT_EQ(made.image.size(), QSize(256, 128));
    EXPECT_EQ(QColor(made.image.pixel(10, 10)).green(), 255);
    // Into our cache like one of ours, with the keys that make it fresh.
    auto source = ThumbnailCache::source(table.string());
    const fs::path entry = service.cache().entryPath("large", *source);
    EXPECT_EQ(capture("identify -format '%[Thumb::MTime]|%wx%h' " + shellQuote(entry)),
              std::to_string(source->mtime) + "|256x128");
    EXPECT_EQ(requestSync(service, table.string()).origin, ThumbnailResult::Origin::cache);
    EXPECT_FALSE(fs::exists(dir / "pwned"));
    EXPECT_FALSE(fs::exists("pwned"));

    // A failure shows the icon and is recorded; the program is not run again
    // (mended, it would now succeed) until the file changes.
    const fs::path notes = dir / "notes.md";
    writeFile(notes, "# notes\n");
    EXPECT_EQ(requestSync(service, notes.string()).origin, ThumbnailResult::Origin::icon);
    auto notesSource = ThumbnailCache::source(notes.string());
    EXPECT_TRUE(fs::exists(service.cache().failurePath(*notesSource)));
    writeScript(failing, "exec convert -size 64x64 xc:'#00ff00' \"$2\"\n");
    EXPECT_EQ(requestSync(service, notes.string()).origin, ThumbnailResult::Origin::icon);
    ASSERT_TRUE(sh("touch -d @1700000000 " + shellQuote(notes)));
    EXPECT_EQ(requestSync(service, notes.string()).origin, ThumbnailResult::Origin::decoded);
    ::close(200);
    ::close(leaked);

    // A program that never ends is stopped at the timeout and counts as a failure.
    const fs::path hanging = writeScript(dir / "bin/hang", "sleep 600\n");
    writeEntry(dir / "slow/thumbnailers", "slow", hanging, "text/csv;");
    LimitedProcess::Limits quick;
    quick.timeout = std::chrono::milliseconds(300);
    ExternalThumbnailer slow(DesktopThumbnailers({dir / "slow/thumbnailers"}), quick);
    EXPECT_FALSE(slow.run(table.string(), source->uri, QStringLiteral("text/csv"), 256));
    // A type with no entry is none of its business.
    EXPECT_FALSE(slow.handles(QStringLiteral("text/plain")));
}

// The entries are read from the XDG data directories, the user's first.
TEST(ExternalThumbnailer, EntriesComeFromTheXdgDataDirectories) {
    if (!hasTool("convert")) GTEST_SKIP() << "ImageMagick missing";
    TempDir dir;
    const fs::path program = writeScript(
        dir / "bin/thumb", std::string(kChecks) + "exec convert -size 32x32 xc:'#00ff00' \"$2\"\n");
    writeEntry(fs::path(getenv("XDG_DATA_HOME")) / "thumbnailers", "user", program, "text/csv;");
    ExternalThumbnailer external;
    EXPECT_TRUE(external.handles(QStringLiteral("text/csv")));
    const fs::path table = dir / "t.csv";
    writeFile(table, "1\n");
    auto image = external.run(table.string(), ThumbnailCache::fileUri(table.string()),
                              QStringLiteral("text/csv"), 256);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(32, 32));
    fs::remove(fs::path(getenv("XDG_DATA_HOME")) / "thumbnailers/user.thumbnailer");
}

// Debian's font viewer ships a thumbnailer entry; Debian's fonts are real files.
TEST(ExternalThumbnailer, ARealThumbnailerOfTheDesktopDrawsAFont) {
    const fs::path entries = "/usr/share/thumbnailers";
    const fs::path font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    if (!fs::exists(entries / "gnome-font-viewer.thumbnailer") || !fs::exists(font))
        GTEST_SKIP() << "needs gnome-font-viewer and fonts-dejavu-core (scripts/install-deps)";
    TempDir dir;
    const fs::path copy = dir / "Schrift für Rechnungen.ttf";
    fs::copy_file(font, copy);
    ThumbnailService service(2, ThumbnailCache(), ExternalThumbnailer(DesktopThumbnailers({entries}), {}));
    ThumbnailResult r = requestSync(service, copy.string());
    ASSERT_EQ(r.origin, ThumbnailResult::Origin::decoded);
    EXPECT_LE(std::max(r.image.width(), r.image.height()), 256);
    // Glyphs drawn ("Aa" in black on a clear ground): ink and ground both there.
    int ink = 0, ground = 0;
    for (int y = 0; y < r.image.height(); y += 2)
        for (int x = 0; x < r.image.width(); x += 2) {
            QColor c = QColor::fromRgba(r.image.pixel(x, y));
            if (c.alpha() > 200 && c.lightness() < 80) ++ink;
            if (c.alpha() < 50 || c.lightness() > 200) ++ground;
        }
    EXPECT_GT(ink, 100);
    EXPECT_GT(ground, 100);
}

// A failure of the moment is not the file's: when the program's private
// folder cannot be made (here the temporary folder is one where nothing can
// be created, not even by root), the file shows its icon but nothing is
// recorded, and the next try, with the folder back, draws it.
TEST(ExternalThumbnailer, AFailureOfTheMomentIsNotRecordedAgainstTheFile) {
    if (!hasTool("convert")) GTEST_SKIP() << "ImageMagick missing";
    TempDir dir;
    const fs::path data = dir / "data/thumbnailers";
    const fs::path program = writeScript(dir / "bin/draw", "exec convert -size 64x64 xc:'#00ff00' \"$2\"\n");
    writeEntry(data, "table", program, "text/csv;");
    ThumbnailCache cache(dir / "cache");
    ThumbnailService service(1, cache, ExternalThumbnailer(DesktopThumbnailers({data}), {}));
    const fs::path table = dir / "t.csv";
    writeFile(table, "a,b\n1,2\n");
    const auto source = ThumbnailCache::source(table.string());
    ASSERT_TRUE(source);

    const char* saved = getenv("TMPDIR");
    const std::string before = saved ? saved : "";
    ASSERT_EQ(::setenv("TMPDIR", "/proc", 1), 0);
    std::optional<ThumbnailResult> made = service.thumbnail(table.string(), {256, 256});
    if (saved)
        ::setenv("TMPDIR", before.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    EXPECT_FALSE(made);
    EXPECT_FALSE(fs::exists(cache.failurePath(*source)));
    made = service.thumbnail(table.string(), {256, 256});
    ASSERT_TRUE(made);
    EXPECT_EQ(made->origin, ThumbnailResult::Origin::decoded);
}
