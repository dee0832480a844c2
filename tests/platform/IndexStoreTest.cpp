#include "platform/IndexStore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

struct Log {
    std::vector<std::string> lines;
    std::function<void(const std::string&)> sink() {
        return [this](const std::string& l) { lines.push_back(l); };
    }
};

IndexRecord record(uint64_t inode, std::string path, std::string tags = {}, std::optional<double> lat = {},
                   std::optional<double> lon = {}) {
    IndexRecord r;
    r.item = {42, inode};
    r.path = std::move(path);
    r.size = static_cast<int64_t>(inode * 10);
    r.mtimeNs = 1700000000123456789 + static_cast<int64_t>(inode);
    r.ctimeNs = 1700000000987654321;
    r.tags = std::move(tags);
    r.latitude = lat;
    r.longitude = lon;
    r.gpsChecked = lat.has_value() || inode % 2 == 0;
    return r;
}

bool same(const IndexRecord& a, const IndexRecord& b) {
    return a.item == b.item && a.path == b.path && a.isDirectory == b.isDirectory && a.sameStat(b) &&
           a.tags == b.tags && a.latitude == b.latitude && a.longitude == b.longitude && a.gpsChecked == b.gpsChecked;
}

std::map<uint64_t, IndexRecord> byInode(const std::vector<IndexRecord>& list) {
    std::map<uint64_t, IndexRecord> m;
    for (const auto& r : list) m[r.item.inode] = r;
    return m;
}

std::vector<IndexRecord> loadAll(IndexStore& store) {
    bool ok1 = false, ok2 = false;
    auto a = store.load(true, ok1);
    auto b = store.load(false, ok2);
    EXPECT_TRUE(ok1 && ok2);
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Stores `n` items with long paths, so that the file spans many pages.
void fill(IndexStore& store, int n) {
    std::vector<IndexRecord> many;
    for (int i = 1; i <= n; ++i)
        many.push_back(record(static_cast<uint64_t>(i), "/home/u/" + std::string(200, 'p') + std::to_string(i),
                              i % 3 ? "" : "Work"));
    ASSERT_TRUE(store.apply(many, {}));
}

TEST(IndexStore, DefaultPathFollowsXdgCacheHome) {
    EXPECT_EQ(IndexStore::defaultPath(), std::string(std::getenv("XDG_CACHE_HOME")) + "/quillomere/index.sqlite3");
}

TEST(IndexStore, RoundTripsHostileRecordsAcrossReopen) {
    test::TempDir dir;
    const std::string path = (dir / "cache/quillomere/index.sqlite3").string();
    const std::string longName = "/home/u/" + std::string(5000, 'x') + "/" + std::string(255, 'y');
    std::vector<IndexRecord> records = {
        record(1, "/home/u/line\nbreak.txt", "a,b"),
        record(2, std::string("/home/u/caf\xE9\xFF\x80.jpg"), std::string("\xFE\xFF,\xE2\x98\x85", 6), 48.8584,
               2.2945),
        record(3, longName),
        record(4, "/home/u/nul\0inside", {}, -33.8567844, 151.2152967),
        record(5, "/home/u/tab\there,comma", std::string("x\0y", 3)),
        record(6, "/home/u/plain"),
    };
    records[3].path = std::string("/home/u/nul\0inside", 18);
    records[5].isDirectory = true;
    records.push_back(record(UINT64_MAX, "/home/u/max-inode", "★"));
    records.back().item.device = UINT64_MAX - 1;
    records.push_back(record(8, "/home/u/zero-position", {}, 0.0, 0.0));
    Log log;
    {
        IndexStore store;
        EXPECT_EQ(store.open(path, log.sink()), IndexStore::OpenResult::created);
        ASSERT_TRUE(store.isOpen());
        ASSERT_TRUE(store.apply(records, {}));
        EXPECT_TRUE(fs::exists(path));
        EXPECT_EQ(fs::status(fs::path(path).parent_path()).permissions() & fs::perms::others_all, fs::perms::none);
    }
    IndexStore store;
    EXPECT_EQ(store.open(path, log.sink()), IndexStore::OpenResult::opened);
    EXPECT_TRUE(log.lines.empty());

    // Gathering gets exactly the items with tags or a position; the rest come separately.
    bool ok = false;
    auto withMetadata = byInode(store.load(true, ok));
    ASSERT_TRUE(ok);
    auto others = byInode(store.load(false, ok));
    ASSERT_TRUE(ok);
    std::vector<uint64_t> got, rest;
    for (auto& [inode, r] : withMetadata) got.push_back(inode);
    for (auto& [inode, r] : others) rest.push_back(inode);
    EXPECT_EQ(got, (std::vector<uint64_t>{1, 2, 4, 5, 8, UINT64_MAX}));
    EXPECT_EQ(rest, (std::vector<uint64_t>{3, 6}));
    auto all = byInode(loadAll(store));
    for (const auto& r : records) {
        ASSERT_TRUE(all.count(r.item.inode));
        EXPECT_TRUE(same(all[r.item.inode], r)) << r.item.inode;
    }

    // Replacing an item (new path, tags gone) and deleting one, in one transaction.
    IndexRecord moved = records[0];
    moved.path = "/home/u/elsewhere/line\nbreak.txt";
    moved.tags.clear();
    ASSERT_TRUE(store.apply({moved}, {records[1].item, MetadataItem{999, 999}}));
    all = byInode(loadAll(store));
    EXPECT_EQ(all.size(), records.size() - 1);
    EXPECT_FALSE(all.count(2));
    EXPECT_TRUE(same(all[1], moved));
    EXPECT_TRUE(store.load(true, ok).size() == 4 && ok);

    // One item twice in a batch (moved, then retagged before the flush): the later row wins.
    IndexRecord again = moved;
    again.tags = "Later";
    ASSERT_TRUE(store.apply({records[5], moved, records[3], again}, {}));
    all = byInode(loadAll(store));
    EXPECT_TRUE(same(all[1], again));

    ASSERT_TRUE(store.clear());
    EXPECT_TRUE(loadAll(store).empty());
    EXPECT_TRUE(store.apply({}, {}));
}

TEST(IndexStore, GarbageFileIsRebuiltWithOneLine) {
    test::TempDir dir;
    const std::string path = (dir / "index.sqlite3").string();
    std::string garbage;
    for (int i = 0; i < 70000; ++i) garbage += static_cast<char>((i * 7919) >> 3);
    test::writeFile(path, garbage);
    test::writeFile(path + "-wal", "not a wal either");
    Log log;
    IndexStore store;
    EXPECT_EQ(store.open(path, log.sink()), IndexStore::OpenResult::rebuilt);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("damaged"), std::string::npos) << log.lines[0];
    ASSERT_TRUE(store.apply({record(1, "/home/u/a", "x")}, {}));
    EXPECT_EQ(loadAll(store).size(), 1u);

    // A file holding a valid header followed by nothing, and an empty file.
    IndexStore other;
    const std::string headerOnly = (dir / "header.sqlite3").string();
    test::writeFile(headerOnly, std::string("SQLite format 3\0", 16) + std::string(84, '\xFF'));
    Log log2;
    auto result = other.open(headerOnly, log2.sink());
    EXPECT_TRUE(result == IndexStore::OpenResult::rebuilt) << static_cast<int>(result);
    EXPECT_EQ(log2.lines.size(), 1u);
    EXPECT_TRUE(other.apply({record(1, "/home/u/a")}, {}));

    const std::string empty = (dir / "empty.sqlite3").string();
    test::writeFile(empty, "");
    Log log3;
    IndexStore third;
    // SQLite treats an empty file as a new database: nothing to say.
    EXPECT_NE(third.open(empty, log3.sink()), IndexStore::OpenResult::unavailable);
    EXPECT_TRUE(log3.lines.empty());
    EXPECT_TRUE(third.apply({record(1, "/home/u/a")}, {}));
}

TEST(IndexStore, TruncatedDatabaseIsRebuiltWithOneLine) {
    test::TempDir dir;
    const std::string path = (dir / "index.sqlite3").string();
    {
        IndexStore store;
        Log log;
        ASSERT_EQ(store.open(path, log.sink()), IndexStore::OpenResult::created);
        fill(store, 3000);
    }
    ASSERT_FALSE(fs::exists(path + "-wal"));  // checkpointed on close
    const auto size = fs::file_size(path);
    ASSERT_GT(size, 100000u);
    fs::resize_file(path, size / 2);

    Log log;
    IndexStore store;
    EXPECT_EQ(store.open(path, log.sink()), IndexStore::OpenResult::rebuilt);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("damaged"), std::string::npos) << log.lines[0];
    EXPECT_TRUE(loadAll(store).empty());
    ASSERT_TRUE(store.apply({record(7, "/home/u/again", "x")}, {}));
    EXPECT_EQ(loadAll(store).size(), 1u);
}

TEST(IndexStore, PagesDamagedInPlaceAreFoundOnLoadAndRebuilt) {
    test::TempDir dir;
    const std::string path = (dir / "index.sqlite3").string();
    {
        IndexStore store;
        ASSERT_EQ(store.open(path, {}), IndexStore::OpenResult::created);
        fill(store, 3000);
    }
    // The header and size stay intact, so opening succeeds; the damage shows
    // only when the table is read.
    std::string bytes = test::readFile(path);
    ASSERT_GT(bytes.size(), 200000u);
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 16384; ++i) bytes[i] = static_cast<char>(i * 31);
    fs::remove(path);
    test::writeFile(path, bytes);

    Log log;
    IndexStore store;
    ASSERT_EQ(store.open(path, log.sink()), IndexStore::OpenResult::opened);
    bool okWith = true, okWithout = true;
    auto with = store.load(true, okWith);
    auto without = store.load(false, okWithout);
    EXPECT_FALSE(okWith && okWithout);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("damaged"), std::string::npos) << log.lines[0];
    ASSERT_TRUE(store.isOpen());
    // The caller crawls and stores afresh; the next start reads it all back.
    fill(store, 50);
    EXPECT_EQ(loadAll(store).size(), 50u);
    IndexStore reopened;
    EXPECT_EQ(reopened.open(path, log.sink()), IndexStore::OpenResult::opened);
    EXPECT_EQ(loadAll(reopened).size(), 50u);
    EXPECT_EQ(log.lines.size(), 1u);
}

TEST(IndexStore, UnusableLocationsLeaveTheStoreUnavailableWithOneLine) {
    test::TempDir dir;
    // The cache "directory" is a regular file: creation fails even as root.
    test::writeFile(dir / "cache", "a file");
    Log log;
    IndexStore store;
    EXPECT_EQ(store.open((dir / "cache/quillomere/index.sqlite3").string(), log.sink()),
              IndexStore::OpenResult::unavailable);
    EXPECT_FALSE(store.isOpen());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("runs from memory"), std::string::npos) << log.lines[0];
    bool ok = true;
    EXPECT_TRUE(store.load(true, ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_FALSE(store.apply({record(1, "/home/u/a")}, {}));
    EXPECT_FALSE(store.clear());

    // The database path is a directory.
    fs::create_directories(dir / "isdir.sqlite3");
    Log log2;
    IndexStore second;
    EXPECT_EQ(second.open((dir / "isdir.sqlite3").string(), log2.sink()), IndexStore::OpenResult::unavailable);
    EXPECT_EQ(log2.lines.size(), 1u);

    if (::geteuid() != 0) {
        fs::create_directories(dir / "locked");
        fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        Log log3;
        IndexStore third;
        EXPECT_EQ(third.open((dir / "locked/quillomere/index.sqlite3").string(), log3.sink()),
                  IndexStore::OpenResult::unavailable);
        EXPECT_EQ(log3.lines.size(), 1u);
        fs::permissions(dir / "locked", fs::perms::owner_all);
    }
}

TEST(IndexStore, OtherSchemaVersionsStartAfresh) {
    test::TempDir dir;
    const std::string path = (dir / "index.sqlite3").string();
    for (int version : {IndexStore::schemaVersion + 1, 99}) {
        fs::remove(path);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        const std::string sql = "CREATE TABLE items(x TEXT, y TEXT); INSERT INTO items VALUES('a','b');"
                                "PRAGMA user_version=" + std::to_string(version) + ";";
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);

        Log log;
        IndexStore store;
        EXPECT_NE(store.open(path, log.sink()), IndexStore::OpenResult::unavailable);
        EXPECT_TRUE(loadAll(store).empty());
        ASSERT_TRUE(store.apply({record(1, "/home/u/a", "t")}, {}));
        EXPECT_EQ(loadAll(store).size(), 1u);
    }
    // Reopened, the rewritten file carries this version.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), IndexStore::schemaVersion);
    sqlite3_finalize(st);
    sqlite3_close(db);
}

TEST(IndexStore, AReaderOrAWriterThatMayNotReplaceLeavesTheFileAsItIs) {
    test::TempDir dir;
    const std::string path = (dir / "index.sqlite3").string();
    {
        IndexStore store;
        ASSERT_EQ(store.open(path, {}), IndexStore::OpenResult::created);
        fill(store, 3000);
    }
    const std::string good = test::readFile(path);

    // A reader reads a good file, and can change nothing in it.
    {
        IndexStore reader;
        ASSERT_TRUE(reader.openForReading(path)) << reader.problem();
        EXPECT_EQ(loadAll(reader).size(), 3000u);
        EXPECT_FALSE(reader.apply({record(1, "/home/u/a")}, {}));
        EXPECT_FALSE(reader.clear());
    }
    EXPECT_EQ(test::readFile(path), good);
    // ...while a writer has it open, and sees what it committed.
    {
        IndexStore writer;
        ASSERT_EQ(writer.open(path, {}), IndexStore::OpenResult::opened);
        ASSERT_TRUE(writer.apply({record(9001, "/home/u/new", "New")}, {}));
        IndexStore reader;
        ASSERT_TRUE(reader.openForReading(path));
        EXPECT_EQ(loadAll(reader).size(), 3001u);
    }

    auto version = [&](int v) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, ("PRAGMA user_version=" + std::to_string(v)).c_str(), nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    };
    auto refuse = [] { return false; };
    // Another layout: neither a reader nor a writer told to keep it drops it.
    version(5);
    const std::string otherLayout = test::readFile(path);
    {
        IndexStore reader;
        EXPECT_FALSE(reader.openForReading(path));
        EXPECT_NE(reader.problem().find("version 5"), std::string::npos) << reader.problem();
        Log log;
        IndexStore writer;
        EXPECT_EQ(writer.open(path, log.sink(), refuse), IndexStore::OpenResult::unavailable);
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_NE(log.lines[0].find("another index is using it"), std::string::npos) << log.lines[0];
    }
    EXPECT_EQ(test::readFile(path), otherLayout);

    // Cut short: the reader opens, but a load that fails part way returns nothing.
    version(IndexStore::schemaVersion);
    fs::resize_file(path, fs::file_size(path) / 2);
    const std::string cut = test::readFile(path);
    {
        IndexStore reader;
        bool ok = true;
        std::vector<IndexRecord> rows;
        if (reader.openForReading(path)) {
            rows = reader.load(false, ok);
            if (ok) rows = reader.load(true, ok);
        } else {
            ok = false;
        }
        EXPECT_FALSE(ok);
        EXPECT_TRUE(rows.empty());
        EXPECT_NE(reader.problem().find(path), std::string::npos) << reader.problem();
        Log log;
        IndexStore writer;
        if (writer.open(path, log.sink(), refuse) != IndexStore::OpenResult::unavailable) {
            bool okWith = true, okWithout = true;
            writer.load(true, okWith);
            writer.load(false, okWithout);
            EXPECT_FALSE(okWith && okWithout);
            EXPECT_FALSE(writer.clear());
        }
        EXPECT_EQ(log.lines.size(), 1u);
    }
    EXPECT_EQ(test::readFile(path), cut);

    // Not a database, and not there at all.
    test::writeFile(path, std::string(9000, 'Q'));
    IndexStore reader;
    EXPECT_FALSE(reader.openForReading(path));
    EXPECT_EQ(test::readFile(path), std::string(9000, 'Q'));
    EXPECT_FALSE(reader.openForReading((dir / "missing.sqlite3").string()));
    EXPECT_FALSE(fs::exists(dir / "missing.sqlite3"));
    EXPECT_FALSE(fs::exists(dir / "missing.sqlite3-wal"));
}

}  // namespace
}  // namespace qm
