#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/IndexRecord.h"

struct sqlite3;

namespace qm {

// The index's saved state: one SQLite database (WAL, schema version in
// user_version) holding every indexed item. A damaged file is replaced by an
// empty database; when nothing can be written the store keeps nothing and
// the index runs from memory. Not thread-safe: one queue owns it.
class IndexStore {
public:
    enum class OpenResult { opened, created, rebuilt, unavailable };

    IndexStore() = default;
    ~IndexStore();
    IndexStore(const IndexStore&) = delete;
    IndexStore& operator=(const IndexStore&) = delete;

    // `$XDG_CACHE_HOME/quillomere/index.sqlite3` ($HOME/.cache when unset).
    static std::string defaultPath();

    // Opens or creates the database. `log` receives the one line said when a
    // damaged file is rebuilt or the store cannot be used.
    OpenResult open(const std::string& path, const std::function<void(const std::string&)>& log);
    bool isOpen() const { return db_ != nullptr; }
    const std::string& path() const { return path_; }

    // Every stored item. With `onlyWithMetadata` just the ones with tags or a
    // position (what gathering needs), else the others. `ok` is false when the
    // file could not be read through; a damaged file is then replaced by an
    // empty one (one log line) and nothing is returned, so the caller crawls.
    std::vector<IndexRecord> load(bool onlyWithMetadata, bool& ok);
    // The stored tag value of each item, in order: none when the item has
    // no row, "" when it has one without tags.
    std::vector<std::optional<std::string>> storedTags(const std::vector<MetadataItem>& items);
    // Writes and deletes in one transaction. On damage the file is replaced by
    // an empty one as in `load` (rebuildCount() goes up) and false is
    // returned: the caller must then write all it holds again.
    [[nodiscard]] bool apply(const std::vector<IndexRecord>& upserts, const std::vector<MetadataItem>& deletions);
    // Drops everything stored.
    [[nodiscard]] bool clear();
    // How often damage replaced the file by an empty one since opening.
    unsigned rebuildCount() const { return rebuilds_; }

    static constexpr int schemaVersion = 1;

private:
    bool prepareSchema();
    void close();
    // Damage met after opening (a page overwritten in place): start an empty
    // file so the next crawl can store its results.
    void rebuildAfterDamage();

    sqlite3* db_ = nullptr;
    std::string path_;
    std::function<void(const std::string&)> log_;
    unsigned rebuilds_ = 0;
};

}  // namespace qm
