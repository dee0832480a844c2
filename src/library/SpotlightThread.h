#pragma once

#include <absl/container/flat_hash_map.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/QuickString.h"
#include "core/TagFormat.h"
#include "library/FolderAccessProbe.h"
#include "library/MetadataQuery.h"
#include "library/Node.h"
#include "core/PathMetadata.h"
#include "library/Tree.h"
#include "library/UserDefaults.h"

namespace qm {

class SerialQueue;

// A usable position from raw latitude and longitude: none when either is
// missing or NaN, when both are exactly 0 (the "no fix" value cameras write)
// or when a value lies outside the globe (|latitude| > 90, |longitude| > 180,
// infinities included).
std::optional<GPS> makeGPS(std::optional<double> latitude, std::optional<double> longitude);

// Fills the library from the metadata index: builds the first whole tree off
// the main thread and then turns every live update of the tag and GPS queries
// into a change set for the database. Every field is confined to the serial
// queue "SpotlightQueue" (given to start; debug builds check it); query
// notifications arrive on the main thread and are forwarded there. It never touches the live tree.
class SpotlightThread : public std::enable_shared_from_this<SpotlightThread> {
public:
    using TagChanges = Tree::TagChanges;
    using Locations = Node::Paths;  // path to metadata with a position

    // Called on "SpotlightQueue"; the database hops to the main queue.
    struct Callbacks {
        std::function<void(bool blocked)> permissionState;
        std::function<void(std::shared_ptr<Tree> tree)> treeReady;
        std::function<void(TagChanges changes)> tagChanges;
        std::function<void(Locations locations, std::optional<QuickStringSet> touchedPaths)> gpsLocations;
    };

    SpotlightThread(std::shared_ptr<const TagFormat> format, std::shared_ptr<MetadataQuery> tagQuery,
                    std::shared_ptr<MetadataQuery> gpsQuery, std::shared_ptr<UserDefaults> defaults,
                    std::shared_ptr<FolderAccessProbe> probe);
    SpotlightThread(const SpotlightThread&) = delete;
    SpotlightThread& operator=(const SpotlightThread&) = delete;

    // Runs on `queue`: the folder-access probe, then the queries (executed on
    // the main queue). The queue is held weakly: its owner destroys it, and
    // only from another thread.
    void start(std::weak_ptr<SerialQueue> queue, Callbacks callbacks);

    // How long the probe may take before the start counts as blocked.
    static constexpr std::chrono::milliseconds kPermissionDelay{250};

private:
    // The path last seen per item, kept as the path the tree uses: it shares
    // the tree's bytes instead of holding a second copy of every path.
    using ItemPaths = absl::flat_hash_map<MetadataItem, QuickString>;
    // The tag node names last reported per path. Files of one tag set share
    // one set, so taking over the first tree costs no copy of a million sets.
    using SharedTagSet = Tree::TagSet;
    using PreviousTags = absl::flat_hash_map<QuickString, SharedTagSet>;

    void runProbe();
    void tagQueryFinished();  // main thread
    void gpsQueryFinished();  // main thread
    struct TagGroups;
    void buildTags();
    // The tag query's results grouped by tag set, each group's paths side by side.
    TagGroups readTagGroups();
    void buildGPS();
    void tagQueryUpdated(const MetadataUpdate& update);
    void gpsQueryUpdated(const MetadataUpdate& update);
    QuickStringSet tagNodeNames(const std::vector<std::string>& tags);
    // The item's current path (none when unreadable), keeping the item map:
    // a path the item left goes into `vacated`, removed items are forgotten.
    static std::optional<QuickString> trackItemPath(const MetadataQuery& query, ItemPaths& itemPaths,
                                                    const MetadataItem& item, bool removed,
                                                    QuickStringSet& vacated);

    const std::shared_ptr<const TagFormat> format_;
    const std::shared_ptr<MetadataQuery> tagQuery_;
    const std::shared_ptr<MetadataQuery> gpsQuery_;
    const std::shared_ptr<UserDefaults> defaults_;
    const std::shared_ptr<FolderAccessProbe> probe_;
    std::weak_ptr<SerialQueue> queue_;
    const SerialQueue* confinedTo_ = nullptr;  // compared, never dereferenced
    Callbacks callbacks_;

    std::shared_ptr<Tree> treeWhileLoading_;
    PreviousTags previousTags_;
    Locations gpsLocations_;
    ItemPaths mdTagItemToPreviousPathMap_;
    ItemPaths mdGPSItemToPreviousPathMap_;
    // Tag string to node name, so the large first build maps each distinct
    // tag once.
    absl::flat_hash_map<std::string, QuickString> nodeNameCache_;
    std::chrono::steady_clock::time_point startTime_;
};

}  // namespace qm
