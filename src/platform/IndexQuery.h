#pragma once

#include <absl/base/thread_annotations.h>

#include <absl/container/flat_hash_map.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/Mutex.h"
#include "library/MetadataQuery.h"

namespace qm {

// One query of the file index: the list of matching items as the index last
// published it. The index feeds it from its own queue; readers on any thread
// see the list change only while updates are enabled, and the handlers run on
// the main queue, the finish notification before every update.
class IndexQuery final : public MetadataQuery, public std::enable_shared_from_this<IndexQuery> {
public:
    // What a reader sees of one item.
    struct Entry {
        std::string path;
        std::vector<std::string> tags;
        std::optional<double> latitude, longitude;
    };
    // Changes of the list together with the notification that describes them.
    struct Delta {
        std::vector<std::pair<MetadataItem, Entry>> upserts;
        std::vector<MetadataItem> removals;
        MetadataUpdate update;
        bool empty() const { return upserts.empty() && removals.empty(); }
    };

    explicit IndexQuery(MetadataQueryKind kind) : kind_(kind) {}

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

    // ---- The index's side (any thread) ----
    // Changes the list, at once or, while a reader holds updates, once it
    // lets go. The notification is posted only after the finish one: before
    // that, the reader of the finished list sees the change anyway.
    void publish(Delta delta);
    // Gathering is complete: onFinish is posted once the query is executed.
    void markGathered();
    bool isGathered() const;

private:
    void applyLocked(Delta& delta) ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex_);
    void postUpdateLocked(MetadataUpdate update) ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex_);
    void postFinishLocked() ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex_);
    const Entry* entryAt(size_t index) const ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex_);
    const Entry* entryOf(const MetadataItem& item) const ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex_);

    const MetadataQueryKind kind_;
    mutable Mutex mutex_;
    Handlers handlers_ ABSL_GUARDED_BY(mutex_);
    bool executed_ ABSL_GUARDED_BY(mutex_) = false;
    bool gathered_ ABSL_GUARDED_BY(mutex_) = false;
    bool finishPosted_ ABSL_GUARDED_BY(mutex_) = false;
    int disabled_ ABSL_GUARDED_BY(mutex_) = 0;
    std::vector<Delta> held_ ABSL_GUARDED_BY(mutex_);
    std::vector<MetadataItem> items_ ABSL_GUARDED_BY(mutex_);  // the result list
    std::vector<Entry> entries_ ABSL_GUARDED_BY(mutex_);       // parallel to items_
    absl::flat_hash_map<MetadataItem, size_t> slots_ ABSL_GUARDED_BY(mutex_);
};

}  // namespace qm
