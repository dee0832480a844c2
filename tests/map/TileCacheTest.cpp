// The tile cache's plain parts: the pruning plan (against a brute-force
// reading of its rules), the pruning of a real cache folder whose times are
// set with touch, the files and folders the disk cache writes (checked with
// the file system), and the reader that decodes tiles (files made by
// ImageMagick and Python's zlib).
#include <gtest/gtest.h>

#include <QImage>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "map/TileCachePruner.h"
#include "map/TileDiskCache.h"
#include "map/TileImageReader.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;
using Clock = TilePolicy::Clock;
using std::chrono::hours;

TEST(TileCachePruner, ThePlanFollowsItsRules) {
    std::mt19937 rng(27);
    const Clock::time_point now = Clock::now();
    for (int round = 0; round < 300; ++round) {
        std::vector<TileCachePruner::Tree> trees;
        const int treeCount = 1 + int(rng() % 4);
        for (int t = 0; t < treeCount; ++t)
            trees.push_back({"tree" + std::to_string(t), now - hours(rng() % (24 * 14))});
        const std::string current = "tree" + std::to_string(rng() % treeCount);
        std::vector<TileCachePruner::Tile> tiles;
        const int tileCount = int(rng() % 40);
        for (int i = 0; i < tileCount; ++i)
            tiles.push_back({fs::path("t" + std::to_string(i)), size_t(rng() % treeCount),
                             int64_t(1 + rng() % 1000), now - hours(rng() % 500),
                             now + hours(int(rng() % 400) - 100)});
        const int64_t cap = int64_t(rng() % 15000);
        const auto plan = TileCachePruner::plan(trees, tiles, current, now, cap);

        // Brute force: trees not current and unused for over a week go whole.
        std::set<size_t> goneTrees(plan.trees.begin(), plan.trees.end());
        for (size_t t = 0; t < trees.size(); ++t)
            EXPECT_EQ(goneTrees.count(t) == 1,
                      trees[t].name != current && now - trees[t].lastUse > hours(24 * 7));
        std::set<size_t> goneTiles(plan.tiles.begin(), plan.tiles.end());
        EXPECT_EQ(goneTiles.size(), plan.tiles.size());
        int64_t kept = 0, total = 0;
        Clock::time_point newestEvicted = Clock::time_point::min(), oldestKept = Clock::time_point::max();
        for (size_t i = 0; i < tiles.size(); ++i) {
            const bool inGoneTree = goneTrees.count(tiles[i].tree) == 1;
            EXPECT_FALSE(inGoneTree && goneTiles.count(i)) << "listed twice";
            if (inGoneTree) continue;
            const bool expired = tiles[i].expiry < now;
            if (expired) {
                EXPECT_EQ(goneTiles.count(i), 1u) << "an expired tile is kept";
                continue;
            }
            total += tiles[i].bytes;
            if (goneTiles.count(i)) {
                newestEvicted = std::max(newestEvicted, tiles[i].lastUse);
            } else {
                kept += tiles[i].bytes;
                oldestKept = std::min(oldestKept, tiles[i].lastUse);
            }
        }
        EXPECT_EQ(plan.keptBytes, kept);
        if (total <= cap) {
            EXPECT_EQ(kept, total) << "nothing is evicted under the cap";
        } else {
            // Over the cap: down to nine tenths of it, the least recently used first, no more than needed.
            EXPECT_LE(kept, cap - cap / 10);
            EXPECT_LE(newestEvicted, oldestKept);
            int64_t lastEvicted = 0;
            for (size_t i : plan.tiles)
                if (goneTrees.count(tiles[i].tree) == 0 && tiles[i].expiry >= now)
                    lastEvicted = tiles[i].bytes;
            EXPECT_GT(kept + lastEvicted, cap - cap / 10);
        }
    }
}

TEST(TileCachePruner, PrunesARealCacheFolder) {
    TempDir dir;
    const fs::path tiles = dir / "quillomere" / "tiles";
    const auto now = Clock::now();
    const std::string bytes(1000, 'x');
    TileDiskCache current(tiles / "aaaa"), abandoned(tiles / "bbbb"), recent(tiles / "cccc");
    for (const TileDiskCache* c : {&current, &abandoned, &recent})
        c->markUsed();
    for (int y = 0; y < 10; ++y)
        ASSERT_TRUE(current.write(TileKey{5, 3, y}, bytes, now + hours(24 * 30)));
    ASSERT_TRUE(current.write(TileKey{6, 1, 1}, bytes, now - hours(2)));  // expired
    ASSERT_TRUE(abandoned.write(TileKey{5, 3, 0}, bytes, now + hours(24 * 30)));
    ASSERT_TRUE(recent.write(TileKey{5, 3, 0}, bytes, now + hours(24 * 30)));
    auto touch = [](const fs::path& p, const std::string& when) {
        ASSERT_EQ(runShell("touch -d " + shellQuoted(when) + " " + shellQuoted(p.string())).first, 0);
    };
    touch(abandoned.root() / TileDiskCache::markerName, "10 days ago");
    touch(recent.root() / TileDiskCache::markerName, "2 days ago");
    // The current tree counts as used whatever its marker says.
    touch(current.root() / TileDiskCache::markerName, "1 year ago");
    // Last used: y = 0 longest ago ... y = 9 most recently.
    for (int y = 0; y < 10; ++y)
        touch(current.pathOf(TileKey{5, 3, y}), std::to_string(20 - y) + " hours ago");
    touch(recent.pathOf(TileKey{5, 3, 0}), "1 hour ago");
    // Writes cut short: an old one is removed, one that may still be going on is not.
    const fs::path oldPart = current.pathOf(TileKey{5, 3, 0}).string() + ".Ab12Cd";
    const fs::path newPart = current.pathOf(TileKey{5, 3, 1}).string() + ".Ef34Gh";
    writeFile(oldPart, "half");
    writeFile(newPart, "half");
    touch(oldPart, "3 hours ago");
    // A link out of the cache is neither followed nor emptied.
    TempDir outside;
    writeFile(outside / "precious.tile", bytes);
    fs::create_directory_symlink(outside.path(), current.root() / "7");
    fs::create_directory_symlink(outside.path(), tiles / "dddd");

    // 11 tiles of 1008 bytes are left; a cap of 8000 keeps the 7 most recently used.
    const auto result = TileCachePruner::prune(tiles, "aaaa", now, 8000);
    EXPECT_EQ(result.removedTrees, 1);
    EXPECT_FALSE(fs::exists(abandoned.root()));
    EXPECT_TRUE(fs::exists(recent.pathOf(TileKey{5, 3, 0})));
    EXPECT_FALSE(fs::exists(current.pathOf(TileKey{6, 1, 1})));
    EXPECT_FALSE(fs::exists(current.root() / "6")) << "an emptied folder goes too";
    std::vector<int> left;
    for (int y = 0; y < 10; ++y)
        if (fs::exists(current.pathOf(TileKey{5, 3, y}))) left.push_back(y);
    EXPECT_EQ(left, (std::vector<int>{4, 5, 6, 7, 8, 9}));
    int64_t total = 0;
    for (const auto& e : fs::recursive_directory_iterator(tiles))
        if (e.is_regular_file() && !e.is_symlink() && e.path().extension() == ".tile")
            total += int64_t(e.file_size());
    EXPECT_EQ(total, result.keptBytes);
    EXPECT_LE(total, 8000 - 800);
    EXPECT_FALSE(fs::exists(oldPart));
    EXPECT_TRUE(fs::exists(newPart));
    EXPECT_TRUE(fs::exists(outside / "precious.tile"));
    EXPECT_TRUE(fs::exists(current.root() / TileDiskCache::markerName));

    // Cancelled, it stops before removing anything.
    ASSERT_TRUE(current.write(TileKey{6, 1, 1}, bytes, now - hours(2)));
    std::atomic<bool> cancel{true};
    TileCachePruner::prune(tiles, "aaaa", now, 8000, &cancel);
    EXPECT_TRUE(fs::exists(current.pathOf(TileKey{6, 1, 1})));
}

TEST(TileDiskCache, PrivateFoldersWholeFilesAndDamagedOnesRefused) {
    TempDir dir;
    const fs::path cacheHome = dir / "cache";
    fs::create_directories(cacheHome);
    // A tree left readable by all by an earlier version is made private.
    const TileDiskCache cache(TileDiskCache::rootFor(cacheHome, "https://t.example/{z}/{x}/{y}.png"));
    fs::create_directories(cache.root());
    fs::permissions(cache.root(), fs::perms(0755));
    const TileKey key{4, 5, 6};
    const auto expiry = Clock::now() + hours(24 * 10);
    ASSERT_TRUE(cache.write(key, "first", expiry));
    for (fs::path p = cache.pathOf(key).parent_path(); p != cacheHome; p = p.parent_path())
        EXPECT_EQ(fs::status(p).permissions() & fs::perms::all, fs::perms::owner_all) << p;
    EXPECT_EQ(fs::status(cache.pathOf(key)).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    auto entry = cache.read(key);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->bytes, "first");
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(entry->expiry - expiry).count(), 0);

    // Two writers of the same tile and a reader at once: every read is one
    // whole tile, and no temporary file is left behind.
    const std::string a(200000, 'a'), b(150000, 'b');
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop)
            if (auto e = cache.read(key); e && e->bytes != a && e->bytes != b && e->bytes != "first") ++torn;
    });
    std::thread writerA([&] {
        for (int i = 0; i < 150; ++i)
            cache.write(key, a, expiry);
    });
    std::thread writerB([&] {
        for (int i = 0; i < 150; ++i)
            cache.write(key, b, expiry);
    });
    writerA.join();
    writerB.join();
    stop = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(cache.pathOf(key).parent_path()))
        names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"6.tile"});

    // Damaged or hostile entries read as missing: too short, too long, a link.
    writeFile(cache.pathOf(TileKey{4, 5, 7}), "1234");
    EXPECT_FALSE(cache.read(TileKey{4, 5, 7}));
    writeFile(cache.pathOf(TileKey{4, 5, 8}), std::string(TilePolicy::maxResponseBytes + 9, 'x'));
    EXPECT_FALSE(cache.read(TileKey{4, 5, 8}));
    fs::create_symlink(cache.pathOf(key), cache.pathOf(TileKey{4, 5, 9}));
    EXPECT_FALSE(cache.read(TileKey{4, 5, 9}));
}

TEST(TileImageReader, OnlyPngJpegAndWebPUpToATilesSize) {
    TempDir dir;
    auto made = [&](const std::string& command, const std::string& name) {
        const fs::path file = dir / name;
        const auto [status, output] = runShell(command + " " + shellQuoted(file.string()) + " 2>&1");
        EXPECT_EQ(status, 0) << command << output;
        return QByteArray::fromStdString(readFile(file));
    };
    struct Case {
        std::string command, name;
        std::optional<QSize> size;
    };
    const std::vector<Case> cases = {
        {"convert -size 256x256 xc:red", "a.png", QSize(256, 256)},
        {"convert -size 256x256 xc:red", "a.jpg", QSize(256, 256)},
        {"convert -size 256x256 xc:red", "a.webp", QSize(256, 256)},
        {"convert -size 1024x512 xc:red", "edge.png", QSize(1024, 512)},
        {"convert -size 1025x16 xc:red", "wide.png", std::nullopt},
        {"convert -size 16x4000 xc:red", "tall.jpg", std::nullopt},
        {"convert -size 2000x2000 xc:red", "big.webp", std::nullopt},
        {"convert -size 256x256 xc:red", "a.gif", std::nullopt},
        {"convert -size 256x256 xc:red", "a.bmp", std::nullopt},
        {"convert -size 256x256 xc:red", "a.tiff", std::nullopt},
        // A decompression bomb: a few KiB declaring 30000 x 30000.
        {"python3 -c \"import zlib,struct,sys\n"
         "w=h=30000\n"
         "def chunk(t,d): return struct.pack('>I',len(d))+t+d+struct.pack('>I',zlib.crc32(t+d))\n"
         "z=zlib.compressobj(9); d=b''.join(z.compress(bytes(w+1)) for _ in range(200))+z.flush()\n"
         "sys.stdout.buffer.write(b'\\x89PNG\\r\\n\\x1a\\n'+chunk(b'IHDR',struct.pack('>IIBBBBB',w,h,8,0,0,0,"
         "0))"
         "+chunk(b'IDAT',d)+chunk(b'IEND',b''))\" >",
         "bomb.png", std::nullopt},
    };
    for (const Case& c : cases) {
        const QByteArray bytes = made(c.command, c.name);
        ASSERT_FALSE(bytes.isEmpty()) << c.name;
        const auto image = TileImageReader::read(bytes);
        EXPECT_EQ(image.has_value(), c.size.has_value()) << c.name;
        if (image && c.size) {
            EXPECT_EQ(image->size(), *c.size) << c.name;
        }
    }
    // A PNG cut short is no tile, nor is a name alone.
    const QByteArray png = made("convert -size 256x256 plasma:", "p.png");
    EXPECT_TRUE(TileImageReader::read(png));
    EXPECT_FALSE(TileImageReader::read(png.left(png.size() / 3)));
    EXPECT_FALSE(TileImageReader::read(QByteArray("\x89PNG\r\n\x1a\n")));
    EXPECT_FALSE(TileImageReader::read(QByteArray()));
}

}  // namespace
}  // namespace qm::test
