#pragma once

#include <absl/base/thread_annotations.h>

#include <absl/container/flat_hash_map.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Mutex.h"
#include "library/MetadataQuery.h"

namespace qm {

class MemoryMetadataIndex;

// One file's record in a MemoryMetadataIndex.
struct MemoryMetadataFile {
    std::optional<std::string> path;
    std::optional<std::vector<std::string>> tags;
    std::optional<double> latitude, longitude;
};

// A query over a MemoryMetadataIndex. The result list is the index's files
// that match the kind (tags: a non-empty tag list; GPS: a latitude), in the
// order the index first saw them. The list is kept up to date as the script
// changes files, and disableUpdates() freezes it in constant time: the frozen
// list is shared, and the first change made while it is held copies it, so a
// reader on another thread sees a stable list while the script goes on.
class MemoryMetadataQuery final : public MetadataQuery {
public:
    MemoryMetadataQuery(MemoryMetadataIndex& index, MetadataQueryKind kind) : index_(index), kind_(kind) {}

    MetadataQueryKind kind() const override { return kind_; }
    void setHandlers(Handlers handlers) override;
    void execute() override;
    void disableUpdates() override;
    void enableUpdates() override;
    size_t resultCount() const override;
    MetadataItem resultAt(size_t index) const override;
    std::vector<std::string> tagsAt(size_t index) const override;
    std::optional<double> latitudeAt(size_t index) const override;
    std::optional<double> longitudeAt(size_t index) const override;
    void readResults(const std::function<void(const ResultView&)>& visit) const override;
    std::optional<std::string> pathOf(const MetadataItem& item) const override;
    std::optional<std::vector<std::string>> tagsOf(const MetadataItem& item) const override;
    std::optional<double> latitudeOf(const MetadataItem& item) const override;
    std::optional<double> longitudeOf(const MetadataItem& item) const override;

    bool isExecuted() const;
    // Test helpers: call the handlers on the calling thread (the main thread,
    // as a real index would). Nothing before setHandlers().
    void finish();
    void update(const MetadataUpdate& update);

private:
    friend class MemoryMetadataIndex;
    using FilePtr = std::shared_ptr<const MemoryMetadataFile>;
    // Sorted by `seq`, the index's first-seen order, so a slot is found by
    // binary search and new files append.
    struct Slot {
        uint64_t seq;
        MetadataItem item;
        FilePtr file;
    };
    using Slots = std::vector<Slot>;

    // All with the index lock held.
    bool matches(const MemoryMetadataFile* file) const;
    void fileChanged(uint64_t seq, const MetadataItem& item, const FilePtr& file);
    Slots& writableSlots();
    const Slot* slotAt(size_t index) const;
    // Not checked: the index's lock cannot be named while its class is incomplete.
    const MemoryMetadataFile* currentFile(const MetadataItem& item) const ABSL_NO_THREAD_SAFETY_ANALYSIS;

    MemoryMetadataIndex& index_;
    const MetadataQueryKind kind_;
    Handlers handlers_;
    bool executed_ = false;
    int disabled_ = 0;
    std::shared_ptr<Slots> slots_ = std::make_shared<Slots>();
    std::shared_ptr<const Slots> frozen_;  // the list while updates are disabled
    // The slot resultAt() read last: a reader walking the list asks for that
    // item's attributes next, and finding it here spares a random lookup.
    mutable size_t cursor_ = 0;
};

// A scriptable in-memory metadata index for tests and benchmarks: files with
// an identity, an optional path, an optional tag list and optional latitude
// and longitude, plus the two queries over them. The script changes files
// and then reports them with finish()/update() on a query, exactly as a real
// index would after gathering or after a change. Thread-safe.
class MemoryMetadataIndex {
public:
    using File = MemoryMetadataFile;

    MemoryMetadataIndex();
    MemoryMetadataIndex(const MemoryMetadataIndex&) = delete;
    MemoryMetadataIndex& operator=(const MemoryMetadataIndex&) = delete;

    // The queries; the index must outlive them.
    std::shared_ptr<MemoryMetadataQuery> tagQuery() const { return tagQuery_; }
    std::shared_ptr<MemoryMetadataQuery> gpsQuery() const { return gpsQuery_; }

    // A new file with a fresh identity (device 1, inodes counting up).
    MetadataItem add(File file);
    // Replaces (or creates) the record of an item.
    void set(const MetadataItem& item, File file);
    std::optional<File> get(const MetadataItem& item) const;
    // Record changes for the usual scripts.
    void setPath(const MetadataItem& item, std::optional<std::string> path);
    void setTags(const MetadataItem& item, std::optional<std::vector<std::string>> tags);
    void setPosition(const MetadataItem& item, std::optional<double> latitude,
                     std::optional<double> longitude);
    // Drops the record: the item keeps its identity (and its place in the
    // result order, should it come back) but has no attributes.
    void erase(const MetadataItem& item);
    // Reserves room for a large script (benchmarks).
    void reserve(size_t files);

private:
    friend class MemoryMetadataQuery;
    using FilePtr = MemoryMetadataQuery::FilePtr;
    struct Record {
        uint64_t seq = 0;  // when the item was first seen
        FilePtr file;      // null once erased
    };

    const File* fileLocked(const MetadataItem& item) const ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex_);
    void store(const MetadataItem& item, FilePtr file) ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex_);
    template <typename Change>
    void modify(const MetadataItem& item, Change&& change);

    mutable Mutex mutex_;
    absl::flat_hash_map<MetadataItem, Record> records_ ABSL_GUARDED_BY(mutex_);
    uint64_t nextSeq_ ABSL_GUARDED_BY(mutex_) = 0;
    uint64_t nextInode_ ABSL_GUARDED_BY(mutex_) = 1;
    std::shared_ptr<MemoryMetadataQuery> tagQuery_, gpsQuery_;
};

}  // namespace qm
