#include "library/DB.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "geo/AsyncMultiGrid.h"
#include "library/FileSystemMonitor.h"
#include "library/FolderContents.h"
#include "library/MemoryUserDefaults.h"
#include "library/SettingsSchema.h"
#include "library/SpotlightThread.h"
#include "library/TreeNames.h"

namespace qm {

namespace {

// A tag slice ends after this long, checked every few files, so one turn stays
// well under a frame even on a loaded machine, view updates included.
constexpr std::chrono::microseconds tagSliceBudget{3000};
constexpr size_t tagSliceCheckEvery = 16;

bool isFolder(const Node& node) {
    return has(node.kind, NodeKind::directory);
}

// Stale marks for a whole subtree. Every node that has children also gets
// the descendant mark, or the pass would never walk down to them.
void markSubtreeStale(const NodePtr& node) {
    for (const NodePtr& child : node->sortedChildren()) {
        child->flags |= NodeFlags::stale;
        if (!child->children().empty()) {
            child->flags |= NodeFlags::descendantStale;
            markSubtreeStale(child);
        }
    }
}

}  // namespace

// ---- Construction ----

std::shared_ptr<DB> DB::create(LibraryServices services) {
    std::shared_ptr<DB> db(new DB(std::move(services)));
    db->startIngest();
    return db;
}

DB::DB(LibraryServices services)
    : format(std::make_shared<TagFormat>()), services_(std::move(services)), tree_(std::make_shared<Tree>()) {
    if (!services_.defaults) services_.defaults = std::make_shared<MemoryUserDefaults>();
    folderQueue_ = std::make_unique<SerialQueue>("FolderQueue");
}

DB::~DB() {
    // A read still in flight owns copies only; its result finds the database
    // gone and is dropped.
    folderQueue_.reset();
    // Finish the ingest's queued work before the objects it uses go.
    spotlightQueue_.reset();
    fsMonitor_.reset();
}

void DB::startIngest() {
    std::weak_ptr<DB> weak = weak_from_this();
    asyncGrid_ = std::make_shared<AsyncMultiGrid>([weak] {
        if (auto db = weak.lock()) db->gridChanged.emit();
    });
    spotlightThread_ = std::make_shared<SpotlightThread>(format, services_.tagQuery, services_.gpsQuery,
                                                         services_.defaults, services_.folderAccessProbe);
    spotlightQueue_ = std::make_shared<SerialQueue>("SpotlightQueue");

    SpotlightThread::Callbacks callbacks;
    callbacks.permissionState = [weak](bool blocked) {
        mainQueue().postWeak(weak, [blocked](DB& db) { db.permissionStateChanged(blocked); });
    };
    // The pins go into the new tree here, on the ingest's queue, so the tree
    // is complete when the main thread first sees it.
    callbacks.treeReady = [weak, defaults = services_.defaults](std::shared_ptr<Tree> tree) {
        loadPins(*defaults, *tree);
        mainQueue().postWeak(weak,
                             [tree = std::move(tree)](DB& db) mutable { db.treeReady(std::move(tree)); });
    };
    callbacks.tagChanges = [weak](SpotlightThread::TagChanges changes) {
        mainQueue().postWeak(weak,
                             [changes = std::move(changes)](DB& db) mutable { db.tagsChanged(std::move(changes)); });
    };
    callbacks.gpsLocations = [weak](SpotlightThread::Locations locations,
                                    std::optional<QuickStringSet> touched) {
        mainQueue().postWeak(weak, [locations = std::move(locations), touched = std::move(touched)](DB& db) {
            db.setMapPaths(locations, touched);
        });
    };

    std::weak_ptr<SerialQueue> queue = spotlightQueue_;
    spotlightQueue_->async([thread = spotlightThread_, queue, callbacks = std::move(callbacks)]() mutable {
        thread->start(queue, std::move(callbacks));
    });
}

// ---- Ingest callbacks (main thread) ----

void DB::setLoadingState(LoadingState state) {
    if (loadingState_ == state) return;
    loadingState_ = state;
    loadingStateChanged.emit();
}

void DB::permissionStateChanged(bool blocked) {
    if (loadingState_ == LoadingState::loaded) return;
    setLoadingState(blocked ? LoadingState::blockedByPermissionPrompt : LoadingState::loading);
}

void DB::treeReady(std::shared_ptr<Tree> tree) {
    // Changes still pending were meant for the tree being replaced; applied
    // at once they would have gone with it.
    pendingTags_.clear();
    tree_ = std::move(tree);
    std::unique_ptr<DirectoryWatcher> watcher;
    if (services_.makeDirectoryWatcher) watcher = services_.makeDirectoryWatcher();
    fsMonitor_ = std::make_unique<FileSystemMonitor>(weak_from_this(), std::move(watcher));
    directoryChanged(homeDirectory(), true);
    childrenChanged.emit();
    pathsChanged.emit();
    treeChanged.emit();
    // Positions that arrived before the tags sit in the new map node; the
    // grid has not seen them yet.
    if (!tree_->mapNode->resolvedPaths().empty()) feedGrid(std::nullopt);
    setLoadingState(LoadingState::loaded);
}

void DB::tagsChanged(Tree::TagChanges changes) {
    if (changes.empty()) return;
    const bool idle = pendingTags_.empty();
    pendingTags_.push_back(std::move(changes));
    // A slice is already posted for the earlier batches; this one waits.
    if (!idle) return;
    nextTag_ = pendingTags_.front().cbegin();
    applyTagSlice();
}

void DB::applyTagSlice() {
    if (pendingTags_.empty()) return;
    const auto began = std::chrono::steady_clock::now();
    size_t applied = 0;
    performBatch([&] {
        while (!pendingTags_.empty() && applied < tagSliceFiles) {
            if (applied > 0 && applied % tagSliceCheckEvery == 0 &&
                std::chrono::steady_clock::now() - began >= tagSliceBudget)
                break;
            const auto& [path, names] = *nextTag_;
            noteChange(tree_->setTags(names, path));
            ++applied;
            if (++nextTag_ == pendingTags_.front().cend()) {
                pendingTags_.pop_front();
                if (!pendingTags_.empty()) nextTag_ = pendingTags_.front().cbegin();
            }
        }
    });
    if (!pendingTags_.empty()) mainQueue().postWeak(weak_from_this(), [](DB& db) { db.applyTagSlice(); });
}

// ---- Change delivery ----

void DB::feedGrid(const std::optional<QuickStringSet>& touchedPaths) {
    asyncGrid_->update(tree_->mapNode->resolvedPaths(), touchedPaths);
}

void DB::apply(WhatChanged bits, const std::optional<QuickStringSet>& touchedPaths) {
    if (has(bits, WhatChanged::children)) childrenChanged.emit();
    if (has(bits, WhatChanged::paths)) pathsChanged.emit();
    if (has(bits, WhatChanged::grid)) feedGrid(touchedPaths);
}

void DB::performBatch(const Body& body) {
    if (currentBatch_) {
        body();
        return;
    }
    currentBatch_ = WhatChanged::none;
    body();
    WhatChanged bits = currentBatch_.value_or(WhatChanged::none);
    currentBatch_.reset();
    apply(bits);
}

void DB::noteChange(WhatChanged bits) {
    if (currentBatch_)
        *currentBatch_ |= bits;
    else
        apply(bits);
}

void DB::setMapPaths(const Node::Paths& paths, const std::optional<QuickStringSet>& touchedPaths) {
    const NodePtr& map = tree_->mapNode;
    if (map->isPinReference() || map->paths() == paths) return;
    map->replacePaths(paths);
    pathsChanged.emit();
    feedGrid(touchedPaths);
}

// ---- Pins ----

void DB::loadPins(const UserDefaults& defaults, Tree& tree) {
    for (const std::string& pin : defaults.get(settings::pins))
        tree.addPin(QuickString::literal(pin));
}

void DB::savePins() {
    std::vector<std::string> pins;
    for (const NodePtr& pin : tree_->pinnedNode->sortedChildren()) {
        std::string text = "Tags/";
        text += pin->name.utf8();
        pins.push_back(std::move(text));
    }
    services_.defaults->set(settings::pins, pins);
}

// ---- Folders ----

void DB::scheduleDirectoryUpdate() {
    if (isUpdatingDirectories_) return;
    isUpdatingDirectories_ = true;
    mainQueue().postWeak(weak_from_this(), [](DB& db) { db.updateDirectories(); });
}

void DB::updateDirectories() {
    // The read's result re-posts the pass once it is applied.
    if (readingNode_) return;
    if (continueOpening(true) || scanNext(tree_->rootNode)) {
        if (!readingNode_) mainQueue().postWeak(weak_from_this(), [](DB& db) { db.updateDirectories(); });
    } else {
        isUpdatingDirectories_ = false;
    }
}

bool DB::scanNext(const NodePtr& node) {
    if (node->hasFlag(NodeFlags::descendantStale)) {
        // A copy: the cache must not be relied on across a read.
        const std::vector<NodePtr> children = node->sortedChildren();
        for (const NodePtr& child : children)
            if (scanNext(child)) return true;
        node->flags &= ~NodeFlags::descendantStale;
    }
    return refreshDirectory(node);
}

void DB::markStaleUpwards(const NodePtr& node) {
    for (NodePtr n = node; n; n = n->parent.lock())
        n->flags |= NodeFlags::descendantStale;
}

bool DB::refreshDirectory(const NodePtr& node) {
    if (!node->hasFlag(NodeFlags::stale)) return false;
    if (readingNode_) {
        // One read at a time: leave the node stale and let the pass, which
        // goes on once the current read is applied, find it.
        if (NodePtr parent = node->parent.lock()) markStaleUpwards(parent);
        scheduleDirectoryUpdate();
        return true;
    }
    node->flags &= ~NodeFlags::stale;

    auto directory = folderPathForNode(node->fullName);
    if (!directory) return true;
    startDirectoryRead(node, *directory);
    return true;
}

void DB::startDirectoryRead(const NodePtr& node, const std::string& directory) {
    readingNode_ = node;
    // The result continues the pass, which must be known to be running.
    isUpdatingDirectories_ = true;
    folderQueue_->async([weak = weak_from_this(), directory, isHome = node == tree_->directoriesNode] {
        // The listing and the path table are built here, off the main
        // thread; the main thread only swaps them in.
        auto contents = readFolderContents(directory, isHome);
        mainQueue().postWeak(weak, [contents = std::move(contents)](DB& db) mutable {
            db.directoryRead(std::move(contents));
        });
    });
}

void DB::directoryRead(std::optional<FolderContents> contents) {
    NodePtr node = std::move(readingNode_);
    readingNode_.reset();
    // A folder removed, or a tree replaced, while its directory was read has
    // nothing to update.
    if (node && tree_->lookup(node->nodePath()) == node) {
        if (contents) {
            applyDirectoryContents(node, *contents);
            // Freeing a table of 100,000 paths takes longer than a frame:
            // the folder queue does it.
            folderQueue_->async([unused = std::make_shared<FolderContents>(std::move(*contents))] {
                FolderContents freedHere = std::move(*unused);
            });
        } else {
            // The directory may have gone: have the parent read again, which
            // drops this node if so.
            NodePtr parent = node->parent.lock();
            if (parent && isFolder(*parent)) {
                parent->flags |= NodeFlags::stale;
                if (NodePtr above = parent->parent.lock()) markStaleUpwards(above);
            }
        }
    }
    // The pass goes on in a turn of its own. A new event for the node while
    // it was read left it stale, so the pass reads it again.
    mainQueue().postWeak(weak_from_this(), [](DB& db) { db.updateDirectories(); });
}

void DB::applyDirectoryContents(const NodePtr& node, FolderContents& contents) {
    const int result = syncSubfolders(node, contents.subfolderNames);
    if (result == 2) {
        markStaleUpwards(node);
        scheduleDirectoryUpdate();
    }
    WhatChanged bits = result != 0 ? WhatChanged::children : WhatChanged::none;
    if (node->paths() != contents.files) {
        // What `contents` holds from here on is thrown away by the caller.
        contents.files = node->replacePaths(std::move(contents.files));
        bits |= WhatChanged::paths;
    }
    apply(bits);
}

int DB::syncSubfolders(const NodePtr& node, const QuickStringSet& names) {
    if (node->isPinReference()) return 0;
    int result = 0;
    const bool opened = node->hasFlag(NodeFlags::opened);
    for (const QuickString& name : names) {
        if (node->children().contains(name)) continue;
        NodePtr child = Node::make(NodeKind::directory, name, node);
        if (opened) {
            child->flags |= NodeFlags::stale;
            result = 2;
        } else {
            child->flags |= NodeFlags::foundUnscheduled;
            result = std::max(result, 1);
        }
        node->insertChild(child);
    }
    std::vector<QuickString> gone;
    for (const auto& [name, child] : node->children())
        if (!names.contains(name)) gone.push_back(name);
    for (const QuickString& name : gone)
        node->removeChild(name);
    if (!gone.empty()) result = std::max(result, 1);
    return result;
}

void DB::directoryChanged(const QuickString& path, bool recursive) {
    auto fullName = nodeNameForFolder(path);
    if (!fullName) return;
    NodePtr node = tree_->lookup(nodePathForFullName(*fullName));
    if (!node) return;
    node->flags |= NodeFlags::stale;
    if (recursive && !node->children().empty()) {
        node->flags |= NodeFlags::descendantStale;
        markSubtreeStale(node);
    }
    if (NodePtr parent = node->parent.lock()) markStaleUpwards(parent);
    scheduleDirectoryUpdate();
}

void DB::openDirectories(const std::vector<QuickString>& fullNames) {
    QuickStringSet seen(pendingOpens_.begin(), pendingOpens_.end());
    for (const QuickString& fullName : fullNames) {
        std::string prefix;
        for (const QuickString& component : nodePathForFullName(fullName)) {
            if (!prefix.empty()) prefix += '/';
            prefix += component.utf8();
            QuickString p = QuickString::literal(prefix);
            if (seen.insert(p).second) pendingOpens_.push_back(std::move(p));
        }
    }
    // What needs no read is opened now; the pass's next turn starts the
    // first read, and the rest are opened as their reads are applied.
    continueOpening(false);
    if (!pendingOpens_.empty()) scheduleDirectoryUpdate();
}

bool DB::continueOpening(bool mayRead) {
    while (!pendingOpens_.empty()) {
        if (readingNode_) return true;
        NodePtr node = tree_->lookup(nodePathForFullName(pendingOpens_.front()));
        if (node && isFolder(*node)) {
            // Read first; the node is opened once its read is applied.
            if (node->hasFlag(NodeFlags::stale) && !mayRead) return false;
            if (refreshDirectory(node) && readingNode_) return true;
            markOpened(node);
        }
        pendingOpens_.pop_front();
    }
    return false;
}

void DB::markOpened(const NodePtr& node) {
    node->flags |= NodeFlags::opened;
    bool scheduled = false;
    for (const auto& [name, child] : node->children()) {
        if (!child->hasFlag(NodeFlags::foundUnscheduled)) continue;
        child->flags &= ~NodeFlags::foundUnscheduled;
        child->flags |= NodeFlags::stale;
        scheduled = true;
    }
    if (scheduled) {
        markStaleUpwards(node);
        scheduleDirectoryUpdate();
    }
}

}  // namespace qm
