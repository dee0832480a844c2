#include "library/SpotlightThread.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/MainQueue.h"
#include "core/SerialQueue.h"

namespace qm {

namespace {

void logSetup(const char* what, double seconds, std::optional<size_t> results = std::nullopt) {
    if (results)
        std::printf("[setup] %s: %.3f seconds (%zu results)\n", what, seconds, *results);
    else
        std::printf("[setup] %s: %.3f seconds\n", what, seconds);
    std::fflush(stdout);
}

double secondsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// Fires once after a delay unless cancelled first; cancel() waits for a
// firing in progress, so nothing fires after it returns.
class OneShotTimer {
public:
    OneShotTimer(std::chrono::milliseconds delay, std::function<void()> fire)
        : thread_([this, delay, fire = std::move(fire)] {
              std::unique_lock lock(mutex_);
              if (cv_.wait_for(lock, delay, [this] { return cancelled_; })) return;
              fire();
          }) {}
    ~OneShotTimer() { cancel(); }
    void cancel() {
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool cancelled_ = false;
    std::thread thread_;  // last: starts once the members above exist
};

// Sorted, duplicate-free list of a set, usable as a grouping key.
std::vector<QuickString> groupKey(const QuickStringSet& names) {
    std::vector<QuickString> key(names.begin(), names.end());
    std::sort(key.begin(), key.end(),
              [](const QuickString& a, const QuickString& b) { return a.utf8() < b.utf8(); });
    return key;
}

}  // namespace

std::optional<GPS> makeGPS(std::optional<double> latitude, std::optional<double> longitude) {
    double lat = latitude.value_or(NAN);
    double lon = longitude.value_or(NAN);
    if (std::isnan(lat) || std::isnan(lon)) return std::nullopt;
    if (lat == 0.0 && lon == 0.0) return std::nullopt;
    // A value off the globe is no position at all; letting it through would
    // hand the grid coordinates it cannot place (infinities included).
    if (!(std::fabs(lat) <= 90.0) || !(std::fabs(lon) <= 180.0)) return std::nullopt;
    return GPS{lon, lat};
}

SpotlightThread::SpotlightThread(std::shared_ptr<const TagFormat> format,
                                 std::shared_ptr<MetadataQuery> tagQuery,
                                 std::shared_ptr<MetadataQuery> gpsQuery,
                                 std::shared_ptr<UserDefaults> defaults,
                                 std::shared_ptr<FolderAccessProbe> probe)
    : format_(std::move(format)),
      tagQuery_(std::move(tagQuery)),
      gpsQuery_(std::move(gpsQuery)),
      defaults_(std::move(defaults)),
      probe_(probe ? std::move(probe) : std::make_shared<PosixFolderAccessProbe>()),
      treeWhileLoading_(std::make_shared<Tree>()) {
    treeWhileLoading_->addColorNodes(*format_);
}

void SpotlightThread::start(std::weak_ptr<SerialQueue> queue, Callbacks callbacks) {
    queue_ = std::move(queue);
    callbacks_ = std::move(callbacks);

    runProbe();

    startTime_ = std::chrono::steady_clock::now();
    const auto startTime = startTime_;
    std::weak_ptr<SpotlightThread> weak = weak_from_this();
    std::weak_ptr<SerialQueue> weakQueue = queue_;

    // Notifications arrive on the main thread; the result count for the log
    // line is read there, the processing happens on the queue.
    auto finished = [weak, weakQueue, startTime](const std::shared_ptr<MetadataQuery>& query,
                                                 const char* what, void (SpotlightThread::*build)()) {
        logSetup(what, secondsBetween(startTime, std::chrono::steady_clock::now()), query->resultCount());
        auto q = weakQueue.lock();
        if (!q) return;
        q->async([weak, build] {
            if (auto self = weak.lock()) ((*self).*build)();
        });
    };
    auto updated = [weak, weakQueue](const MetadataUpdate& update,
                                     void (SpotlightThread::*handle)(const MetadataUpdate&)) {
        auto q = weakQueue.lock();
        if (!q) return;
        q->async([weak, update, handle] {
            if (auto self = weak.lock()) ((*self).*handle)(update);
        });
    };

    std::weak_ptr<MetadataQuery> tagQ = tagQuery_, gpsQ = gpsQuery_;
    tagQuery_->setHandlers(MetadataQuery::Handlers{
        [finished, tagQ] {
            if (auto q = tagQ.lock()) finished(q, "Tags query", &SpotlightThread::buildTags);
        },
        [updated](const MetadataUpdate& u) { updated(u, &SpotlightThread::tagQueryUpdated); }});
    gpsQuery_->setHandlers(MetadataQuery::Handlers{
        [finished, gpsQ] {
            if (auto q = gpsQ.lock()) finished(q, "GPS query", &SpotlightThread::buildGPS);
        },
        [updated](const MetadataUpdate& u) { updated(u, &SpotlightThread::gpsQueryUpdated); }});

    mainQueue().post([tagQ, gpsQ] {
        if (auto q = tagQ.lock()) q->execute();
        if (auto q = gpsQ.lock()) q->execute();
    });
}

void SpotlightThread::runProbe() {
    if (!defaults_->boolForKey("hasBeenLaunched")) {
        std::this_thread::sleep_for(permissionDelay);
        defaults_->setValue("hasBeenLaunched", true);
    }
    {
        OneShotTimer timer(permissionDelay, [cb = callbacks_.permissionState] {
            if (cb) cb(true);
        });
        const std::string home(homeDirectory().utf8());
        for (const char* name : {"Desktop", "Documents", "Downloads", "Movies", "Music", "Pictures"})
            probe_->listDirectory(home + "/" + name);
        timer.cancel();
    }
    if (callbacks_.permissionState) callbacks_.permissionState(false);
}

QuickStringSet SpotlightThread::tagNodeNames(const std::vector<std::string>& tags) {
    QuickStringSet names;
    names.reserve(tags.size());
    for (const std::string& tag : tags) {
        // An empty tag names no node; it only appears in damaged values.
        if (tag.empty()) continue;
        auto it = nodeNameCache_.find(tag);
        if (it == nodeNameCache_.end()) it = nodeNameCache_.emplace(tag, format_->nodeNameForTag(tag)).first;
        names.insert(it->second);
    }
    return names;
}

void SpotlightThread::buildTags() {
    const auto began = std::chrono::steady_clock::now();
    std::shared_ptr<Tree> tree = std::move(treeWhileLoading_);
    treeWhileLoading_.reset();
    if (!tree) return;

    // Files with the same tag set are handled together, so every tag node is
    // walked once per distinct set instead of once per file.
    struct Group {
        SharedTagSet names;
        std::vector<QuickString> paths;
    };
    constexpr size_t noGroup = SIZE_MAX;
    std::vector<Group> groups;
    absl::flat_hash_map<std::vector<QuickString>, size_t> groupIndex;
    // The cached tag lists repeat exactly far more often than not; a list
    // seen before finds its group without mapping and sorting its tags again.
    absl::flat_hash_map<std::vector<std::string>, size_t> listIndex;

    // Each item's path is read with its tags, walking the list in order,
    // which keeps the index's records in cache.
    tagQuery_->disableUpdates();
    const size_t count = tagQuery_->resultCount();
    // The bookkeeping for later updates waits until the tree is out.
    std::vector<std::pair<MetadataItem, QuickString>> itemPaths;
    itemPaths.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const MetadataItem item = tagQuery_->resultAt(i);
        std::vector<std::string> tags = tagQuery_->tagsAt(i);
        size_t group;
        if (auto hit = listIndex.find(tags); hit != listIndex.end()) {
            group = hit->second;
        } else {
            QuickStringSet names = tagNodeNames(tags);
            group = noGroup;
            if (!names.empty()) {
                auto [it, inserted] = groupIndex.try_emplace(groupKey(names), groups.size());
                if (inserted)
                    groups.push_back(Group{std::make_shared<const QuickStringSet>(std::move(names)), {}});
                group = it->second;
            }
            listIndex.emplace(std::move(tags), group);
        }
        if (group == noGroup) continue;
        auto text = tagQuery_->pathOf(item);
        if (!text) continue;
        QuickString path = QuickString::path(*text);
        if (path.empty()) continue;
        itemPaths.emplace_back(item, path);
        groups[group].paths.push_back(std::move(path));
    }
    tagQuery_->enableUpdates();
    groupIndex = {};
    listIndex = {};

    tree->tags.reserve(count);
    std::vector<QuickString> merged;  // paths of more than one item
    for (Group& group : groups) {
        const QuickStringSet& names = *group.names;
        for (const QuickString& path : group.paths) {
            auto [entry, inserted] = tree->tags.try_emplace(path, names);
            if (!inserted) {
                // Two items with one path: the path carries both items' tags.
                entry->second.insert(names.begin(), names.end());
                merged.push_back(path);
            }
        }
        if (group.paths.empty()) continue;
        for (const QuickString& name : names) {
            const std::vector<QuickString> components = name.components();
            tree->rootNode->addPathList(components, group.paths);
        }
    }
    std::vector<std::pair<QuickString, SharedTagSet>> mergedSets;
    for (const QuickString& path : merged)
        mergedSets.emplace_back(path, std::make_shared<const QuickStringSet>(tree->tags.at(path)));

    const NodePtr& map = tree->mapNode;
    if (!map->isPinReference() && map->paths != gpsLocations_) {
        map->paths = gpsLocations_;
        map->sortedPathsOrNil.reset();
    }

    logSetup("Tag processing", secondsBetween(began, std::chrono::steady_clock::now()));
    if (callbacks_.treeReady) callbacks_.treeReady(std::move(tree));

    // Updates are handled on this queue after this task, so what they
    // compare against is complete before the first one.
    mdTagItemToPreviousPathMap_.reserve(itemPaths.size());
    for (auto& [item, path] : itemPaths)
        mdTagItemToPreviousPathMap_.insert_or_assign(item, std::move(path));
    itemPaths = {};
    previousTags_.reserve(count);
    for (const Group& group : groups)
        for (const QuickString& path : group.paths)
            previousTags_.try_emplace(path, group.names);
    for (auto& [path, set] : mergedSets)
        previousTags_.insert_or_assign(path, std::move(set));
}

void SpotlightThread::buildGPS() {
    const auto began = std::chrono::steady_clock::now();
    gpsQuery_->disableUpdates();
    const size_t count = gpsQuery_->resultCount();
    for (size_t i = 0; i < count; ++i) {
        const MetadataItem item = gpsQuery_->resultAt(i);
        auto text = gpsQuery_->pathOf(item);
        if (!text) continue;
        QuickString path = QuickString::path(*text);
        if (path.empty()) continue;
        if (auto gps = makeGPS(gpsQuery_->latitudeAt(i), gpsQuery_->longitudeAt(i)))
            gpsLocations_.insert_or_assign(path, PathMetadata{gps});
        else
            gpsLocations_.erase(path);
        mdGPSItemToPreviousPathMap_.insert_or_assign(item, path);
    }
    // Once the tree is out, only this callback can deliver the positions;
    // before that the tag build copies them into its map node.
    if (!treeWhileLoading_ && callbacks_.gpsLocations) callbacks_.gpsLocations(gpsLocations_, std::nullopt);
    gpsQuery_->enableUpdates();
    logSetup("GPS processing", secondsBetween(began, std::chrono::steady_clock::now()));
}

std::optional<QuickString> SpotlightThread::trackItemPath(const MetadataQuery& query, ItemPaths& itemPaths,
                                                          const MetadataItem& item, bool removed,
                                                          QuickStringSet& vacated) {
    auto previous = itemPaths.find(item);
    auto text = query.pathOf(item);
    std::optional<QuickString> path;
    if (text) {
        path = QuickString::path(*text);
        if (path->empty()) path.reset();
    }
    if (!path) {
        // A deleted file may have no readable path any more; its last known
        // path must still lose what it carried.
        if (removed && previous != itemPaths.end()) {
            vacated.insert(previous->second);
            itemPaths.erase(previous);
        }
        return std::nullopt;
    }
    if (previous != itemPaths.end() && previous->second != *path) vacated.insert(previous->second);
    if (removed) {
        if (previous != itemPaths.end()) itemPaths.erase(previous);
    } else if (previous != itemPaths.end()) {
        previous->second = *path;
    } else {
        itemPaths.emplace(item, *path);
    }
    return path;
}

namespace {

// Added, changed, then removed items, as the update paths handle them.
template <typename F>
void forEachItem(const MetadataUpdate& update, F&& handle) {
    for (const MetadataItem& item : update.added)
        handle(item, false);
    for (const MetadataItem& item : update.changed)
        handle(item, false);
    for (const MetadataItem& item : update.removed)
        handle(item, true);
}

}  // namespace

void SpotlightThread::tagQueryUpdated(const MetadataUpdate& update) {
    TagChanges changes;
    // Paths that moved away. They are cleared after the batch and only when
    // no item of the batch now lives there, so a file that moved onto a path
    // another file left keeps its tags whatever order the items come in.
    QuickStringSet vacated;

    tagQuery_->disableUpdates();
    forEachItem(update, [&](const MetadataItem& item, bool removed) {
        auto path = trackItemPath(*tagQuery_, mdTagItemToPreviousPathMap_, item, removed, vacated);
        if (!path) return;
        auto tags = tagQuery_->tagsOf(item);
        changes.insert_or_assign(std::move(*path), tags ? tagNodeNames(*tags) : QuickStringSet{});
    });
    tagQuery_->enableUpdates();

    for (const QuickString& path : vacated)
        changes.try_emplace(path, QuickStringSet{});
    if (changes.empty()) return;
    // The first build reads the complete result list, so nothing is lost.
    if (treeWhileLoading_) return;

    for (auto it = changes.begin(); it != changes.end();) {
        auto [prev, inserted] = previousTags_.try_emplace(it->first);
        if (!inserted && *prev->second == it->second) {
            changes.erase(it++);
            continue;
        }
        // An empty set is stored too: the path stays known as untagged.
        prev->second = std::make_shared<const QuickStringSet>(it->second);
        ++it;
    }
    if (callbacks_.tagChanges) callbacks_.tagChanges(std::move(changes));
}

void SpotlightThread::gpsQueryUpdated(const MetadataUpdate& update) {
    QuickStringSet touched;  // every path handled; the paths items live at now first
    QuickStringSet vacated;

    gpsQuery_->disableUpdates();
    forEachItem(update, [&](const MetadataItem& item, bool removed) {
        auto path = trackItemPath(*gpsQuery_, mdGPSItemToPreviousPathMap_, item, removed, vacated);
        if (!path) return;
        if (auto gps = makeGPS(gpsQuery_->latitudeOf(item), gpsQuery_->longitudeOf(item)))
            gpsLocations_.insert_or_assign(*path, PathMetadata{gps});
        else
            gpsLocations_.erase(*path);
        touched.insert(std::move(*path));
    });
    for (const QuickString& path : vacated) {
        // Another item of the batch lives there now.
        if (touched.contains(path)) continue;
        gpsLocations_.erase(path);
        touched.insert(path);
    }
    gpsQuery_->enableUpdates();

    if (!treeWhileLoading_ && callbacks_.gpsLocations)
        callbacks_.gpsLocations(gpsLocations_, std::move(touched));
}

}  // namespace qm
