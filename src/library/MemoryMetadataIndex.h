#pragma once

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "library/MetadataQuery.h"

namespace qm {

class MemoryMetadataIndex;

// A query over a MemoryMetadataIndex. The result list is the index's files
// that match the kind (tags: a non-empty tag list; GPS: a latitude), in the
// order they were added; disableUpdates() freezes a snapshot of it so that a
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
    struct Result {
        MetadataItem item;
        std::vector<std::string> tags;
        std::optional<double> latitude, longitude;
    };
    std::vector<Result> currentResults() const;  // index lock held
    const Result* resultLocked(size_t index) const;

    MemoryMetadataIndex& index_;
    const MetadataQueryKind kind_;
    Handlers handlers_;
    bool executed_ = false;
    int disabled_ = 0;
    std::vector<Result> frozen_;  // the list while updates are disabled
};

// A scriptable in-memory metadata index for tests and benchmarks: files with
// an identity, an optional path, an optional tag list and optional latitude
// and longitude, plus the two queries over them. The script changes files
// and then reports them with finish()/update() on a query, exactly as a real
// index would after gathering or after a change. Thread-safe.
class MemoryMetadataIndex {
public:
    struct File {
        std::optional<std::string> path;
        std::optional<std::vector<std::string>> tags;
        std::optional<double> latitude, longitude;
    };

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
    // Drops the record: the item keeps its identity but has no attributes.
    void erase(const MetadataItem& item);
    // Reserves room for a large script (benchmarks).
    void reserve(size_t files);

private:
    friend class MemoryMetadataQuery;
    mutable std::mutex mutex_;
    absl::flat_hash_map<MetadataItem, File> files_;
    absl::flat_hash_set<MetadataItem> seen_;
    std::vector<MetadataItem> order_;  // every item ever added, in order
    uint64_t nextInode_ = 1;
    std::shared_ptr<MemoryMetadataQuery> tagQuery_, gpsQuery_;
};

}  // namespace qm
