// The freedesktop thumbnail cache, checked against GLib's URI escaping, md5sum,
// ImageMagick-written entries and ImageMagick's reading of ours.
#include <gtest/gtest.h>

#include <QImage>

#include <dlfcn.h>
#include <sys/stat.h>

#include "desktop/ThumbnailCache.h"
#include "desktop/ThumbnailService.h"
#include "desktop/ThumbnailTestSupport.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using namespace qm;
using namespace qm::test;

namespace {

const auto* const kGui = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

std::string md5sum(const std::string& text) {
    return capture("printf '%s' " + shellQuote(text) + " | md5sum | cut -c1-32");
}

// Writes a cache entry the way another program would: ImageMagick, text chunks
// after the pixels.
void plantEntry(const fs::path& png, const char* colour, const ThumbnailCache::Source& s,
                std::int64_t mtime, const char* size = "100x50") {
    fs::create_directories(png.parent_path());
    std::string uri;
    for (char c : s.uri) uri += (c == '%') ? std::string("%%") : std::string(1, c);
    ASSERT_TRUE(sh(std::string("convert -size ") + size + " xc:" + colour + " -set Thumb::URI " +
                   shellQuote(uri) + " -set Thumb::MTime " + std::to_string(mtime) + " " + shellQuote(png)));
}

ThumbnailResult requestSync(ThumbnailService& service, const std::string& path, QSize size) {
    std::atomic<bool> done{false};
    ThumbnailResult got;
    service.request(path, size, [&](const ThumbnailResult& r) {
        got = r;
        done = true;
    });
    EXPECT_TRUE(waitUntil([&] { return done.load(); }));
    return got;
}

}  // namespace

TEST(ThumbnailCache, UriEscapingMatchesGlibAndKeyIsMd5) {
    using ToUri = char* (*)(const char*, const char*, void**);
    void* glib = dlopen("libglib-2.0.so.0", RTLD_NOW);
    auto toUri = glib ? reinterpret_cast<ToUri>(dlsym(glib, "g_filename_to_uri")) : nullptr;
    auto gfree = glib ? reinterpret_cast<void (*)(void*)>(dlsym(glib, "g_free")) : nullptr;
    if (!toUri || !gfree) GTEST_SKIP() << "GLib not available as an oracle";
    std::string all = "/tmp/";
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);  // every byte, '/' included
    for (const std::string& p :
         {std::string("/home/u/Pictures/IMG_0001.JPG"), std::string("/home/u/a b#c?d%e&f=g+h,i;j@k$l"),
          std::string("/home/u/Fotos/Sommer \xC3\xA9t\xC3\xA9 [1].jpg"), std::string("/x/bad\xFF\xFEname\n.png"),
          std::string("/x/'quoted' (copy) ~!*.mp4"), all}) {
        char* expected = toUri(p.c_str(), nullptr, nullptr);
        ASSERT_NE(expected, nullptr) << p;
        EXPECT_EQ(ThumbnailCache::fileUri(p), expected) << p;
        gfree(expected);
    }
    std::string uri = ThumbnailCache::fileUri("/home/u/a b.jpg");
    EXPECT_EQ(ThumbnailCache::keyForUri(uri), md5sum(uri));
}

TEST(ThumbnailCache, FreshEntriesUsedStaleIgnored) {
    if (!hasTool("convert")) GTEST_SKIP() << "ImageMagick missing";
    TempDir dir;
    fs::path photo = dir / "holiday photo #1.jpg";
    ASSERT_TRUE(sh("convert -size 640x480 gradient:red-yellow " + shellQuote(photo)));
    auto source = ThumbnailCache::source(photo.string());
    ASSERT_TRUE(source);
    ThumbnailService service;
    fs::path cacheRoot = testHome() / ".cache/thumbnails";
    ASSERT_EQ(service.cache().root(), cacheRoot);

    // Entries made by another program, told apart by colour and size.
    plantEntry(cacheRoot / "large" / (md5sum(source->uri) + ".png"), "lime", *source, source->mtime);
    plantEntry(cacheRoot / "normal" / (md5sum(source->uri) + ".png"), "blue", *source, source->mtime, "64x32");
    ThumbnailResult large = requestSync(service, photo.string(), {256, 256});
    EXPECT_EQ(large.origin, ThumbnailResult::Origin::cache);
    EXPECT_EQ(large.image.size(), QSize(100, 50));
    EXPECT_EQ(QColor(large.image.pixel(50, 25)), QColor(Qt::green));
    ThumbnailResult small = requestSync(service, photo.string(), {128, 128});
    EXPECT_EQ(small.image.size(), QSize(64, 32));
    EXPECT_EQ(QColor(small.image.pixel(10, 10)), QColor(Qt::blue));
    ThumbnailResult smaller = requestSync(service, photo.string(), {32, 32});
    EXPECT_EQ(smaller.image.size(), QSize(32, 16));  // scaled down, aspect kept

    // An entry for another URI under the same name is not ours.
    ThumbnailCache::Source other = *source;
    other.uri += "x";
    plantEntry(cacheRoot / "normal" / (md5sum(source->uri) + ".png"), "blue", other, source->mtime, "64x32");
    EXPECT_EQ(requestSync(service, photo.string(), {128, 128}).image.size(), QSize(100, 50));

    // The file changes: both entries are stale; a new thumbnail replaces the large one.
    ASSERT_TRUE(sh("touch -d '2001-02-03 04:05:06' " + shellQuote(photo)));
    ThumbnailResult fresh = requestSync(service, photo.string(), {256, 256});
    EXPECT_EQ(fresh.origin, ThumbnailResult::Origin::decoded);
    EXPECT_EQ(fresh.image.size(), QSize(256, 192));
    QColor top(pixelAt(fresh.image, 0.5, 0.02));
    EXPECT_GT(top.red(), 200);
    EXPECT_LT(top.green(), 60);  // the gradient's red end, not the planted green
    EXPECT_EQ(requestSync(service, photo.string(), {256, 256}).origin, ThumbnailResult::Origin::cache);
}

TEST(ThumbnailCache, WrittenEntryHasNameKeysAndModes) {
    if (!hasTool("convert") || !hasTool("identify")) GTEST_SKIP() << "ImageMagick missing";
    fs::remove_all(testHome() / ".cache/thumbnails");  // so that this run creates it
    TempDir dir;
    fs::path photo = dir / "Été 100% [raw].jpg";
    ASSERT_TRUE(sh("convert -size 300x600 plasma:fractal " + shellQuote(photo)));
    ThumbnailService service;
    ThumbnailResult r = requestSync(service, photo.string(), {256, 256});
    ASSERT_EQ(r.origin, ThumbnailResult::Origin::decoded);
    EXPECT_EQ(r.image.size(), QSize(128, 256));

    struct stat st {};
    ASSERT_EQ(::stat(photo.c_str(), &st), 0);
    std::string uri = ThumbnailCache::fileUri(photo.string());
    fs::path entry = testHome() / ".cache/thumbnails/large" / (md5sum(uri) + ".png");
    ASSERT_TRUE(fs::exists(entry)) << entry;
    EXPECT_EQ(capture("identify -format '%[Thumb::URI]|%[Thumb::MTime]|%[Thumb::Size]|%w|%h' " + shellQuote(entry)),
              uri + "|" + std::to_string(st.st_mtime) + "|" + std::to_string(st.st_size) + "|128|256");
    EXPECT_EQ(fs::status(entry).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    for (fs::path d : {entry.parent_path(), entry.parent_path().parent_path()})
        EXPECT_EQ(fs::status(d).permissions() & fs::perms::all, fs::perms::owner_all) << d;
    // Written by rename: no temporary files are left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(entry.parent_path()), fs::directory_iterator()), 1);

    // Thumbnails in the cache itself are not cached again.
    auto before = std::distance(fs::directory_iterator(entry.parent_path()), fs::directory_iterator());
    fs::path copy = testHome() / ".cache/thumbnails/large/copy.png";
    fs::copy_file(entry, copy);
    EXPECT_EQ(requestSync(service, copy.string(), {256, 256}).origin, ThumbnailResult::Origin::icon);
    EXPECT_EQ(std::distance(fs::directory_iterator(entry.parent_path()), fs::directory_iterator()), before + 1);
}
