#pragma once

#include <absl/container/btree_map.h>
#include <absl/container/flat_hash_map.h>
#include <absl/container/node_hash_map.h>

#include <sys/stat.h>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/IndexQuery.h"
#include "platform/IndexRecord.h"

namespace qm {

// What the file index knows, owned by the index's queue: every indexed file
// and folder by identity and by path, and the changes since the last flush.
// Every change goes through the methods below, which note the item's state
// before its first change so that flush() can say what each query gained,
// changed or lost.
class IndexState {
public:
    // Everything a flush produces: the two queries' deltas, the rows to store
    // and the files whose position must be read.
    struct Changes {
        IndexQuery::Delta tags, gps;
        std::vector<IndexRecord> upserts;
        std::vector<MetadataItem> deletions;
    };
    // A file whose position is to be read, as it was when the read was asked for.
    struct PositionRead {
        MetadataItem item;
        std::string path;
        int64_t size = 0, mtimeNs = 0;
    };

    // Records a file or folder found at `path` with this stat. `pass` marks
    // it seen by the crawl of that number (0: not a crawl). `rereadTags`
    // reads the tags even when the stat looks unchanged (an attribute event:
    // a write within one ctime granule of the last read leaves ctime as is).
    // `dirFd` and `name`, when given, name the same entry relative to its
    // open folder, which spares resolving the whole path again.
    void visit(const std::string& path, const struct stat& st, uint32_t pass, bool rereadTags = false,
               int dirFd = -1, const char* name = nullptr);
    // Stats `path` and visits it; removes what was known there when it is
    // gone or no longer a file or folder.
    void refresh(const std::string& path, bool rereadTags = false);
    // Forgets the item at `path` and everything below it.
    void removeSubtree(const std::string& path);
    // The item at `from` and everything below it now live under `to`;
    // whatever was known at `to` is gone.
    void moveSubtree(const std::string& from, const std::string& to);
    // Marks everything at and below `path` seen by `pass`, for a folder the
    // crawl could not read: what it held is unknown, so nothing is dropped.
    void keepSubtree(const std::string& path, uint32_t pass);
    // Forgets what lies at or below `root` and was not seen by `pass`.
    void sweep(const std::string& root, uint32_t pass);
    // Adds a stored record as it is, without noting it for storing again.
    void load(IndexRecord record, bool notify);
    // The queries' part of what flush() reports after `rows` are loaded with
    // notify into an empty state (the first row of an item or a path wins),
    // without taking them in: the saved state answers before it is indexed.
    static Changes gatheringOf(const std::vector<IndexRecord>& rows);
    // A position read came back: kept when the file is still the one read.
    void setPosition(const PositionRead& read, std::optional<double> latitude,
                     std::optional<double> longitude);

    // Notes every record for storing again (the store lost them).
    void markAllDirty();

    bool knows(const std::string& path) const { return byPath_.contains(path); }
    // True when anything at or below `path` is known.
    bool knowsAtOrBelow(const std::string& path) const;
    bool hasPendingChanges() const { return !touched_.empty(); }
    size_t pendingChangeCount() const { return touched_.size(); }
    // What flush() does with the rows to store: copies them into `upserts`,
    // holds them until takeHeldRows() (a crawl's rows wait as references,
    // not copies), or drops them (and any held) when nothing stores them.
    enum class Rows { copy, hold, none };
    Changes flush(Rows rows = Rows::copy);
    size_t heldRowCount() const { return held_.size(); }
    // The held rows of the items still known, as they are now, each once.
    std::vector<IndexRecord> takeHeldRows();
    // Position reads asked for since the last call.
    std::vector<PositionRead> takePositionReads() { return std::exchange(reads_, {}); }

    size_t itemCount() const { return items_.size(); }
    size_t taggedCount() const { return tagged_; }
    size_t positionedCount() const { return positioned_; }

    // True for the names a position is read from.
    static bool wantsPosition(std::string_view path);
    // The stored change time of a record whose tags were read within one
    // ctime granule of that time: a later write could keep the same ctime,
    // so the record must not look current to any later stat.
    static constexpr int64_t racyCtime = 0;

private:
    struct Entry {
        IndexRecord record;
        uint32_t pass = 0;
        bool positionAsked = false;  // a read is on its way
        bool held = false;           // its row is among the held ones
    };
    struct Before {
        bool existed = false;
        bool dirty = false;  // changed since stored: to be written back
        std::string path;
        std::string tags;
        std::optional<double> latitude, longitude;
        // The item's entry now (null once forgotten): flush needs no lookup.
        Entry* now = nullptr;
    };

    // Notes `item` as changed; `entry` is its entry before the change (null
    // for an item not known yet, whose caller sets `now` once it exists).
    Before& touch(const MetadataItem& item, Entry* entry, bool dirty = true);
    void removeItem(const MetadataItem& item);
    // The entry of a held row now, or null when its item is forgotten.
    Entry* heldEntry(const MetadataItem& item, Entry* entry);
    void dropHeldRows();
    void setPath(Entry& entry, const std::string& path);
    void account(const IndexRecord& r, int sign);
    void askPosition(Entry& entry);
    // Reads the tags of `path` and its stat through one descriptor, so that
    // both describe the same file, and stores them in `r` (a racy read keeps
    // racyCtime). `st` is the caller's stat, used when the file cannot be
    // opened or is no longer the item.
    void readTagsAndTimes(IndexRecord& r, const std::string& path, const struct stat& st, int dirFd = -1,
                          const char* name = nullptr);
    // Items at `path` and below it, in path order.
    std::vector<MetadataItem> itemsAtOrBelow(const std::string& path) const;
    // True when `path` names `item` (with `fileOnly`, only when it is no folder).
    static bool stillNamed(const std::string& path, const MetadataItem& item, bool fileOnly = false);

    absl::node_hash_map<MetadataItem, Entry> items_;
    // Keys view the paths inside items_ (node storage keeps them in place).
    absl::btree_map<std::string_view, MetadataItem> byPath_;
    absl::flat_hash_map<MetadataItem, Before> touched_;
    // Rows held by flush(Rows::hold), each once. Entries keep their place
    // (node storage) until an item is forgotten: while no item was forgotten
    // since the first was held, the references are read as they are.
    std::vector<std::pair<MetadataItem, Entry*>> held_;
    uint64_t forgotten_ = 0, forgottenWhenHeld_ = 0;
    std::vector<PositionRead> reads_;
    size_t tagged_ = 0, positioned_ = 0;
};

}  // namespace qm
