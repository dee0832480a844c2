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
// user_version) holding every indexed item. Several processes share the
// file: a live index keeps it, one-shot readers read it. A writer replaces a
// damaged file (or one of another layout) by an empty database only when it
// is allowed to (see `open`); when nothing can be written the store keeps
// nothing and the index runs from memory. A reader never changes anything.
// Not thread-safe: one queue owns it.
class IndexStore {
public:
    enum class OpenResult { opened, created, rebuilt, unavailable };
    // Receives one sentence (no area word) when the file is replaced or
    // cannot be used.
    using Report = std::function<void(const std::string&)>;
    // Asked right before the file is emptied or replaced; false keeps it as
    // it is, and the store gives it up instead: another index may be using it.
    using ReplaceCheck = std::function<bool()>;

    IndexStore() = default;
    ~IndexStore();
    IndexStore(const IndexStore&) = delete;
    IndexStore& operator=(const IndexStore&) = delete;

    // `$XDG_CACHE_HOME/quillomere/index.sqlite3` ($HOME/.cache when unset).
    static std::string defaultPath();

    // Opens or creates the database for writing. Without `mayReplace` the
    // file may always be replaced.
    OpenResult open(const std::string& path, const Report& report, ReplaceCheck mayReplace = {});
    // Opens an existing database of this layout for reading only: nothing in
    // it or beside it is created, migrated or removed. False when it cannot
    // answer (missing, damaged, another layout), with the reason in problem().
    bool openForReading(const std::string& path);
    bool isOpen() const { return db_ != nullptr; }
    const std::string& path() const { return path_; }
    // The last thing that went wrong, one sentence; empty when nothing did.
    const std::string& problem() const { return problem_; }

    // Every stored item. With `onlyWithMetadata` just the ones with tags or a
    // position (what gathering needs), else the others. `ok` is false when the
    // file could not be read through, and nothing is returned: rows before
    // the failure are no answer. A writer then replaces a damaged file by an
    // empty one (one report), so the caller crawls.
    std::vector<IndexRecord> load(bool onlyWithMetadata, bool& ok);
    // The stored tag value of each item, in order: none when the item has
    // no row, "" when it has one without tags.
    std::vector<std::optional<std::string>> storedTags(const std::vector<MetadataItem>& items);
    // Writes and deletes in one transaction. On damage the file is replaced by
    // an empty one as in `load` (rebuildCount() goes up) and false is
    // returned: the caller must then write all it holds again.
    [[nodiscard]] bool apply(const std::vector<IndexRecord>& upserts, const std::vector<MetadataItem>& deletions);
    // Drops everything stored (when the replace check allows it).
    [[nodiscard]] bool clear();
    // How often damage replaced the file by an empty one since opening.
    unsigned rebuildCount() const { return rebuilds_; }

    static constexpr int schemaVersion = 1;

private:
    enum class Schema { ready, failed, otherLayoutKept };
    Schema prepareSchema();
    void close();
    void say(const std::string& sentence);
    bool mayReplace() const { return !mayReplace_ || mayReplace_(); }
    // Damage met after opening (a page overwritten in place): start an empty
    // file so the next crawl can store its results.
    void rebuildAfterDamage();

    sqlite3* db_ = nullptr;
    std::string path_;
    Report report_;
    ReplaceCheck mayReplace_;
    bool readOnly_ = false;
    std::string problem_;
    unsigned rebuilds_ = 0;
};

}  // namespace qm
