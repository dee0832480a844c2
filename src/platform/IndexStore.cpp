#include "platform/IndexStore.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <tuple>

#include "core/PathNames.h"
#include "core/XdgDirectories.h"
#include "platform/FileOperationsPosix.h"

namespace qm {

namespace {

// The live index's store. One queue owns it: SQLite's own mutexes would only cost.
constexpr int readWriteFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;

bool exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool isDamage(int code) {
    code &= 0xff;
    return code == SQLITE_CORRUPT || code == SQLITE_NOTADB || code == SQLITE_FORMAT;
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return stmt_; }
    explicit operator bool() const { return stmt_ != nullptr; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

IndexStore::~IndexStore() { close(); }

void IndexStore::close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

void IndexStore::say(const std::string& sentence) {
    problem_ = sentence;
    if (report_) report_(sentence);
}

std::string IndexStore::defaultPath() {
    return xdgCacheHome() + "/quillomere/index.sqlite3";
}

IndexStore::OpenResult IndexStore::open(const std::string& path, const Report& report, ReplaceCheck mayReplace) {
    close();
    path_ = path;
    report_ = report;
    mayReplace_ = std::move(mayReplace);
    readOnly_ = false;
    problem_.clear();
    const FileResult folder =
        path.find('/') != std::string::npos ? posix::makeDirectories(parentOf(path), 0700) : FileResult::success();
    if (!folder.ok) {
        say("Cannot create the folder of the index database " + path + ": " + folder.error +
            "; the index runs from memory");
        return OpenResult::unavailable;
    }
    const bool existed = ::access(path.c_str(), F_OK) == 0;
    bool rebuilt = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        int rc = sqlite3_open_v2(path.c_str(), &db_, readWriteFlags, nullptr);
        const Schema schema = rc == SQLITE_OK ? prepareSchema() : Schema::failed;
        if (schema == Schema::ready) {
            if (rebuilt) return OpenResult::rebuilt;
            return existed ? OpenResult::opened : OpenResult::created;
        }
        const int code = db_ ? sqlite3_extended_errcode(db_) : rc;
        const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        close();
        if (schema == Schema::otherLayoutKept) {
            say("The index database " + path + " has another layout and another index is using it; "
                "the index runs from memory");
            return OpenResult::unavailable;
        }
        if (attempt == 0 && isDamage(code)) {
            if (!this->mayReplace()) {
                say("The index database " + path + " is damaged (" + message +
                    ") and another index is using it; the index runs from memory");
                return OpenResult::unavailable;
            }
            say("The index database " + path + " is damaged (" + message + "); rebuilding it");
            for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((path + suffix).c_str());
            rebuilt = true;
            continue;
        }
        say("Cannot use the index database " + path + " (" + message + "); the index runs from memory");
        return OpenResult::unavailable;
    }
    return OpenResult::unavailable;
}

namespace {

// A file: URI for SQLite, every byte that could end or change the path escaped.
std::string fileUri(const std::string& path, const char* query) {
    static const char hex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            uri += char(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri + "?" + query;
}

}  // namespace

bool IndexStore::openForReading(const std::string& path) {
    close();
    path_ = path;
    report_ = {};
    mayReplace_ = [] { return false; };
    readOnly_ = true;
    problem_.clear();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        problem_ = "the index database " + path + " cannot be opened (" + std::strerror(errno) + ")";
        return false;
    }
    // Read-only still needs the shared-memory file of the write-ahead log.
    // Where it cannot be made nobody can be writing, so the file is taken
    // as it is (immutable), as long as no log waits to be applied.
    int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
    std::string message;
    int version = -1;
    auto readVersion = [&] {
        sqlite3_busy_timeout(db_, 2000);
        Statement st(db_, "PRAGMA user_version");
        if (!st || sqlite3_step(st.get()) != SQLITE_ROW) return false;
        version = sqlite3_column_int(st.get(), 0);
        return true;
    };
    bool read = rc == SQLITE_OK && readVersion();
    if (!read) {
        const int code = db_ ? sqlite3_extended_errcode(db_) : rc;
        message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        close();
        const bool cannotShare = (code & 0xff) == SQLITE_CANTOPEN || (code & 0xff) == SQLITE_READONLY;
        if (cannotShare && ::access((path + "-wal").c_str(), F_OK) != 0) {
            rc = sqlite3_open_v2(fileUri(path, "immutable=1").c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                                 nullptr);
            read = rc == SQLITE_OK && readVersion();
            if (!read) message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        }
    }
    if (!read) {
        close();
        problem_ = "the index database " + path + " cannot be read (" + message + ")";
        return false;
    }
    if (version != schemaVersion) {
        close();
        problem_ = version == 0 ? "the index database " + path + " holds no index yet"
                                : "the index database " + path + " has a layout this program does not read (version " +
                                      std::to_string(version) + ")";
        return false;
    }
    return true;
}

void IndexStore::rebuildAfterDamage() {
    const std::string message = db_ ? sqlite3_errmsg(db_) : "damaged";
    close();
    if (readOnly_) {
        problem_ = "the index database " + path_ + " is damaged (" + message + ")";
        return;
    }
    if (!mayReplace()) {
        say("The index database " + path_ + " is damaged (" + message +
            ") and another index is using it; the index runs from memory");
        return;
    }
    ++rebuilds_;
    for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((path_ + suffix).c_str());
    std::string outcome = "rebuilding it";
    if (sqlite3_open_v2(path_.c_str(), &db_, readWriteFlags, nullptr) != SQLITE_OK ||
        prepareSchema() != Schema::ready) {
        close();
        outcome = "the index runs from memory";
    }
    say("The index database " + path_ + " is damaged (" + message + "); " + outcome);
}

IndexStore::Schema IndexStore::prepareSchema() {
    sqlite3_busy_timeout(db_, 2000);
    // Reading the version touches the header first, so a file that is no
    // database fails here rather than halfway through a load.
    int version = -1;
    {
        Statement st(db_, "PRAGMA user_version");
        if (!st || sqlite3_step(st.get()) != SQLITE_ROW) return Schema::failed;
        version = sqlite3_column_int(st.get(), 0);
    }
    if (version != 0 && version != schemaVersion) {
        // Another layout: the cache is only a cache, start again; but not
        // under an index of another build that still reads and writes it.
        if (!mayReplace()) return Schema::otherLayoutKept;
        if (!exec(db_, "DROP TABLE IF EXISTS items")) return Schema::failed;
        version = 0;
    }
    if (!exec(db_, "PRAGMA journal_mode=WAL")) return Schema::failed;
    exec(db_, "PRAGMA synchronous=NORMAL");
    if (version == 0) {
        if (!exec(db_,
                  "CREATE TABLE IF NOT EXISTS items("
                  " dev INTEGER NOT NULL, ino INTEGER NOT NULL, path BLOB NOT NULL,"
                  " is_dir INTEGER NOT NULL, size INTEGER NOT NULL, mtime INTEGER NOT NULL,"
                  " ctime INTEGER NOT NULL, tags BLOB, lat REAL, lon REAL, gps_checked INTEGER NOT NULL,"
                  " PRIMARY KEY(dev, ino)) WITHOUT ROWID"))
            return Schema::failed;
        if (!exec(db_, "PRAGMA user_version=1")) return Schema::failed;
    }
    // The rows a start answers from, in a covering index of their own: a
    // start then reads a tenth of the file instead of all of it. Built once
    // in a store made before it (the layout is otherwise the same).
    if (!exec(db_,
              "CREATE INDEX IF NOT EXISTS items_with_metadata ON items(dev, ino, path, is_dir, size, mtime,"
              " ctime, tags, lat, lon, gps_checked) WHERE tags IS NOT NULL OR lat IS NOT NULL"))
        return Schema::failed;
    return Schema::ready;
}

std::vector<IndexRecord> IndexStore::load(bool onlyWithMetadata, bool& ok) {
    std::vector<IndexRecord> out;
    ok = false;
    if (!db_) return out;
    const char* sql = onlyWithMetadata
                          ? "SELECT dev, ino, path, is_dir, size, mtime, ctime, tags, lat, lon, gps_checked "
                            "FROM items WHERE tags IS NOT NULL OR lat IS NOT NULL"
                          : "SELECT dev, ino, path, is_dir, size, mtime, ctime, tags, lat, lon, gps_checked "
                            "FROM items WHERE tags IS NULL AND lat IS NULL";
    int rc;
    {
        Statement st(db_, sql);
        if (!st) {
            problem_ = "the index database " + path_ + " could not be read (" + sqlite3_errmsg(db_) + ")";
            if (isDamage(sqlite3_extended_errcode(db_))) rebuildAfterDamage();
            return out;
        }
        sqlite3_stmt* s = st.get();
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            IndexRecord r;
            r.item.device = static_cast<uint64_t>(sqlite3_column_int64(s, 0));
            r.item.inode = static_cast<uint64_t>(sqlite3_column_int64(s, 1));
            if (auto* p = static_cast<const char*>(sqlite3_column_blob(s, 2)))
                r.path.assign(p, static_cast<size_t>(sqlite3_column_bytes(s, 2)));
            r.isDirectory = sqlite3_column_int(s, 3) != 0;
            r.size = sqlite3_column_int64(s, 4);
            r.mtimeNs = sqlite3_column_int64(s, 5);
            r.ctimeNs = sqlite3_column_int64(s, 6);
            if (auto* t = static_cast<const char*>(sqlite3_column_blob(s, 7)))
                r.tags.assign(t, static_cast<size_t>(sqlite3_column_bytes(s, 7)));
            if (sqlite3_column_type(s, 8) != SQLITE_NULL) r.latitude = sqlite3_column_double(s, 8);
            if (sqlite3_column_type(s, 9) != SQLITE_NULL) r.longitude = sqlite3_column_double(s, 9);
            r.gpsChecked = sqlite3_column_int(s, 10) != 0;
            if (r.path.empty() || r.path[0] != '/') continue;  // nothing usable
            out.push_back(std::move(r));
        }
        if (rc != SQLITE_DONE) rc = sqlite3_extended_errcode(db_);
    }
    ok = rc == SQLITE_DONE;
    if (!ok) {
        problem_ = "the index database " + path_ + " could not be read through (" + sqlite3_errmsg(db_) + ")";
        out.clear();
        if (isDamage(rc)) rebuildAfterDamage();
    }
    return out;
}

std::vector<std::optional<std::string>> IndexStore::storedTags(const std::vector<MetadataItem>& items) {
    std::vector<std::optional<std::string>> out(items.size());
    if (!db_) return out;
    Statement st(db_, "SELECT tags FROM items WHERE dev=? AND ino=?");
    if (!st) return out;
    sqlite3_stmt* s = st.get();
    for (size_t i = 0; i < items.size(); ++i) {
        sqlite3_bind_int64(s, 1, static_cast<sqlite3_int64>(items[i].device));
        sqlite3_bind_int64(s, 2, static_cast<sqlite3_int64>(items[i].inode));
        if (sqlite3_step(s) == SQLITE_ROW) {
            const auto* t = static_cast<const char*>(sqlite3_column_blob(s, 0));
            out[i] = t ? std::string(t, static_cast<size_t>(sqlite3_column_bytes(s, 0))) : std::string();
        }
        sqlite3_reset(s);
    }
    return out;
}

bool IndexStore::apply(const std::vector<IndexRecord>& upserts, const std::vector<MetadataItem>& deletions) {
    if (!db_ || readOnly_) return false;
    if (upserts.empty() && deletions.empty()) return true;
    if (!exec(db_, "BEGIN")) return false;
    bool ok = true;
    int failure = 0;
    {
        Statement put(db_,
                      "INSERT OR REPLACE INTO items(dev, ino, path, is_dir, size, mtime, ctime, tags, lat, lon,"
                      " gps_checked) VALUES(?,?,?,?,?,?,?,?,?,?,?)");
        Statement del(db_, "DELETE FROM items WHERE dev=? AND ino=?");
        ok = put && del;
        // In key order the B-tree is walked once per batch: in crawl order
        // (folder listing order) nearly every row lands on a page that fell
        // out of the page cache, and the writer cost the crawl most of a core.
        // Stable, so that a later row for the same item still wins.
        std::vector<const IndexRecord*> order;
        order.reserve(upserts.size());
        for (const IndexRecord& r : upserts)
            order.push_back(&r);
        std::stable_sort(order.begin(), order.end(), [](const IndexRecord* a, const IndexRecord* b) {
            return std::tie(a->item.device, a->item.inode) < std::tie(b->item.device, b->item.inode);
        });
        for (size_t i = 0; ok && i < order.size(); ++i) {
            const IndexRecord& r = *order[i];
            sqlite3_stmt* s = put.get();
            sqlite3_bind_int64(s, 1, static_cast<sqlite3_int64>(r.item.device));
            sqlite3_bind_int64(s, 2, static_cast<sqlite3_int64>(r.item.inode));
            sqlite3_bind_blob(s, 3, r.path.data(), static_cast<int>(r.path.size()), SQLITE_STATIC);
            sqlite3_bind_int(s, 4, r.isDirectory ? 1 : 0);
            sqlite3_bind_int64(s, 5, r.size);
            sqlite3_bind_int64(s, 6, r.mtimeNs);
            sqlite3_bind_int64(s, 7, r.ctimeNs);
            if (r.tags.empty())
                sqlite3_bind_null(s, 8);
            else
                sqlite3_bind_blob(s, 8, r.tags.data(), static_cast<int>(r.tags.size()), SQLITE_STATIC);
            if (r.latitude && r.longitude) {
                sqlite3_bind_double(s, 9, *r.latitude);
                sqlite3_bind_double(s, 10, *r.longitude);
            } else {
                sqlite3_bind_null(s, 9);
                sqlite3_bind_null(s, 10);
            }
            sqlite3_bind_int(s, 11, r.gpsChecked ? 1 : 0);
            ok = sqlite3_step(s) == SQLITE_DONE;
            if (!ok) failure = sqlite3_extended_errcode(db_);
            sqlite3_reset(s);
        }
        for (size_t i = 0; ok && i < deletions.size(); ++i) {
            sqlite3_stmt* s = del.get();
            sqlite3_bind_int64(s, 1, static_cast<sqlite3_int64>(deletions[i].device));
            sqlite3_bind_int64(s, 2, static_cast<sqlite3_int64>(deletions[i].inode));
            ok = sqlite3_step(s) == SQLITE_DONE;
            if (!ok) failure = sqlite3_extended_errcode(db_);
            sqlite3_reset(s);
        }
    }
    if (ok) {
        ok = exec(db_, "COMMIT");
        if (!ok) failure = sqlite3_extended_errcode(db_);
    }
    if (!ok) {
        const int code = failure ? failure : sqlite3_extended_errcode(db_);
        exec(db_, "ROLLBACK");
        if (isDamage(code)) rebuildAfterDamage();
    }
    return ok;
}

bool IndexStore::clear() {
    return db_ && !readOnly_ && mayReplace() && exec(db_, "DELETE FROM items");
}

}  // namespace qm
