#include "library/SpotlightThread.h"

#include <absl/base/thread_annotations.h>
#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <cstdio>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/Log.h"
#include "core/MainQueue.h"
#include "core/Mutex.h"
#include "core/SerialQueue.h"
#include "library/SettingsSchema.h"

namespace qm {

namespace {

void logSetup(const char* what, double seconds, std::optional<size_t> results = std::nullopt) {
    if (results)
        logFormat(LogArea::setup, "%s: %.3f seconds (%zu results)", what, seconds, *results);
    else
        logFormat(LogArea::setup, "%s: %.3f seconds", what, seconds);
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
              const auto deadline = std::chrono::steady_clock::now() + delay;
              MutexLock lock(mutex_);
              while (!cancelled_)
                  if (!lock.waitUntil(cv_, deadline)) break;
              if (cancelled_) return;
              fire();
          }) {}
    ~OneShotTimer() { cancel(); }
    void cancel() {
        {
            MutexLock lock(mutex_);
            cancelled_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

private:
    Mutex mutex_;
    std::condition_variable cv_;
    bool cancelled_ ABSL_GUARDED_BY(mutex_) = false;
    std::jthread thread_;  // last: starts once the members above exist
};

// Sorted, duplicate-free list of a set, usable as a grouping key.
std::vector<QuickString> groupKey(const QuickStringSet& names) {
    std::vector<QuickString> key(names.begin(), names.end());
    std::sort(key.begin(), key.end(),
              [](const QuickString& a, const QuickString& b) { return a.utf8() < b.utf8(); });
    return key;
}

// A tag list as one byte string (each tag's length, then its bytes), so a
// list seen before is found with one hash and one comparison.
void encodeTagList(const std::vector<std::string>& tags, std::string& out) {
    out.clear();
    for (const std::string& tag : tags) {
        const auto size = static_cast<uint32_t>(tag.size());
        out.append(reinterpret_cast<const char*>(&size), sizeof size);
        out.append(tag);
    }
}

void decodeTagList(std::string_view in, std::vector<std::string>& tags) {
    tags.clear();
    while (in.size() >= sizeof(uint32_t)) {
        uint32_t size;
        std::memcpy(&size, in.data(), sizeof size);
        in.remove_prefix(sizeof size);
        tags.emplace_back(in.substr(0, size));
        in.remove_prefix(std::min<size_t>(size, in.size()));
    }
}

}  // namespace

std::optional<GPS> makeGPS(std::optional<double> latitude, std::optional<double> longitude) {
    double lat = latitude.value_or(NAN);
    double lon = longitude.value_or(NAN);
    if (std::isnan(lat) || std::isnan(lon)) return std::nullopt;
    if (lat == 0.0 && lon == 0.0) return std::nullopt;
    // Letting a value off the globe through would hand the grid coordinates
    // it cannot place (infinities included).
    if (!GPS::isOnGlobe(lat, lon)) return std::nullopt;
    return GPS{.latitude = lat, .longitude = lon};
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
    // The queue running this, for the checks: the weak pointer may already be
    // expired while a queue being destroyed runs its last tasks.
    confinedTo_ = SerialQueue::current();
    QM_ASSERT_ON_QUEUE(confinedTo_);
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
    if (!defaults_->get(settings::hasBeenLaunched)) {
        std::this_thread::sleep_for(kPermissionDelay);
        defaults_->set(settings::hasBeenLaunched, true);
    }
    {
        OneShotTimer timer(kPermissionDelay, [cb = callbacks_.permissionState] {
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

// Files with the same tag set are handled together, so every tag node is
// walked once per distinct set instead of once per file.
struct SpotlightThread::TagGroups {
    struct Group {
        SharedTagSet names;
        size_t begin = 0, end = 0;  // its paths in `paths`
    };
    std::vector<Group> groups;
    std::vector<QuickString> paths;  // strings made by this task alone
    // Each item read with the place of its path in `paths`.
    std::vector<std::pair<MetadataItem, size_t>> items;

    std::span<const QuickString> pathsOf(const Group& group) const {
        return {paths.data() + group.begin, group.end - group.begin};
    }
};

SpotlightThread::TagGroups SpotlightThread::readTagGroups() {
    TagGroups out;
    constexpr uint32_t noGroup = UINT32_MAX;
    absl::flat_hash_map<std::vector<QuickString>, uint32_t> groupIndex;
    // The cached tag lists repeat exactly far more often than not; a list
    // seen before finds its group without mapping and sorting its tags again.
    absl::flat_hash_map<std::string, uint32_t> listIndex;
    std::vector<uint32_t> groupSizes;  // apart from the groups, to stay in cache
    struct Read {
        MetadataItem item;
        QuickString path;
        uint32_t group;
    };
    std::vector<Read> read;

    // A result's list is looked up a few results after it is read, with its
    // table slot prefetched meanwhile: with tens of thousands of distinct
    // lists the table is far bigger than the cache.
    struct Pending {
        MetadataItem item;
        QuickString path;
        std::string key;
    };
    constexpr size_t depth = 8;
    std::array<Pending, depth> pending;
    size_t seen = 0;
    std::vector<std::string> tags;
    auto settle = [&](Pending& p) {
        uint32_t group;
        if (auto hit = listIndex.find(p.key); hit != listIndex.end()) {
            group = hit->second;
        } else {
            decodeTagList(p.key, tags);
            QuickStringSet names = tagNodeNames(tags);
            group = noGroup;
            if (!names.empty()) {
                auto [it, inserted] = groupIndex.try_emplace(groupKey(names), uint32_t(out.groups.size()));
                if (inserted) {
                    out.groups.push_back({std::make_shared<const QuickStringSet>(std::move(names))});
                    groupSizes.push_back(0);
                }
                group = it->second;
            }
            listIndex.emplace(p.key, group);
        }
        if (group == noGroup || p.path.empty()) return;
        ++groupSizes[group];
        read.push_back(Read{p.item, std::move(p.path), group});
    };

    tagQuery_->disableUpdates();
    read.reserve(tagQuery_->resultCount());
    tagQuery_->readResults([&](const MetadataQuery::ResultView& result) {
        if (!result.path) return;
        Pending& p = pending[seen++ % depth];
        if (seen > depth) settle(p);
        p.item = result.item;
        p.path = QuickString::path(*result.path);
        encodeTagList(result.tags, p.key);
        listIndex.prefetch(p.key);
    });
    for (size_t k = seen > depth ? seen - depth : 0; k < seen; ++k) settle(pending[k % depth]);
    tagQuery_->enableUpdates();

    size_t at = 0;
    for (size_t g = 0; g < out.groups.size(); ++g) {
        out.groups[g].begin = out.groups[g].end = at;
        at += groupSizes[g];
    }
    out.paths.resize(read.size());
    out.items.reserve(read.size());
    for (Read& r : read) {
        const size_t place = out.groups[r.group].end++;
        out.paths[place] = std::move(r.path);
        out.items.emplace_back(r.item, place);
    }
    return out;
}

void SpotlightThread::buildTags() {
    QM_ASSERT_ON_QUEUE(confinedTo_);
    const auto began = std::chrono::steady_clock::now();
    std::shared_ptr<Tree> tree = std::move(treeWhileLoading_);
    treeWhileLoading_.reset();
    if (!tree) return;

    const TagGroups read = readTagGroups();
    std::vector<Tree::TagGroup> groups;
    groups.reserve(read.groups.size());
    for (const TagGroups::Group& group : read.groups)
        groups.push_back({group.names, read.pathsOf(group)});
    // Paths of more than one item, with the tags of them all.
    const auto merged = tree->addTagGroups(groups);

    const NodePtr& map = tree->mapNode();
    if (!map->isPinReference() && map->paths() != gpsLocations_) map->replacePaths(gpsLocations_);

    logSetup("Tag processing", secondsBetween(began, std::chrono::steady_clock::now()));
    if (callbacks_.treeReady) callbacks_.treeReady(std::move(tree));

    // Updates are handled on this queue after this task, so what they
    // compare against is complete before the first one.
    mdTagItemToPreviousPathMap_.reserve(read.items.size());
    for (const auto& [item, place] : read.items) mdTagItemToPreviousPathMap_.insert_or_assign(item, read.paths[place]);
    previousTags_.reserve(read.paths.size());
    for (const TagGroups::Group& group : read.groups)
        for (const QuickString& path : read.pathsOf(group)) previousTags_.try_emplace(path, group.names);
    for (const auto& [path, set] : merged)
        previousTags_.insert_or_assign(path, set);
}

void SpotlightThread::buildGPS() {
    QM_ASSERT_ON_QUEUE(confinedTo_);
    const auto began = std::chrono::steady_clock::now();
    gpsQuery_->disableUpdates();
    gpsQuery_->readResults([this](const MetadataQuery::ResultView& result) {
        if (!result.path) return;
        QuickString path = QuickString::path(*result.path);
        if (path.empty()) return;
        if (auto gps = makeGPS(result.latitude, result.longitude))
            gpsLocations_.insert_or_assign(path, PathMetadata{gps});
        else
            gpsLocations_.erase(path);
        mdGPSItemToPreviousPathMap_.insert_or_assign(result.item, std::move(path));
    });
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
    QM_ASSERT_ON_QUEUE(confinedTo_);
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
    QM_ASSERT_ON_QUEUE(confinedTo_);
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
