#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/EventEmitter.h"
#include "core/QuickString.h"
#include "core/TagFormat.h"
#include "library/DirectoryWatcher.h"
#include "library/FolderAccessProbe.h"
#include "library/FolderScanner.h"
#include "library/MetadataQuery.h"
#include "library/Node.h"
#include "library/Tree.h"
#include "library/UserDefaults.h"
#include "library/WhatChanged.h"

namespace qm {

class AsyncMultiGrid;
class FileSystemMonitor;
class SerialQueue;
class SpotlightThread;

// Raw values are stable.
enum class LoadingState : uint8_t { loading = 0, blockedByPermissionPrompt = 1, loaded = 2 };

// The platform services the library runs on; the application passes the
// Linux ones, tests pass in-memory ones.
struct LibraryServices {
    std::shared_ptr<MetadataQuery> tagQuery;  // kind tags
    std::shared_ptr<MetadataQuery> gpsQuery;  // kind gps
    std::shared_ptr<UserDefaults> defaults;
    // Makes the watcher of the home directory once the first tree arrives;
    // when empty, folders are read but not watched.
    std::function<std::unique_ptr<DirectoryWatcher>()> makeDirectoryWatcher;
    // When null, directories are probed with opendir.
    std::shared_ptr<FolderAccessProbe> folderAccessProbe;
};

// The library of the process: owns the live tree, the ingest, the folder
// monitor and the GPS grid, and announces every change of the model. All of
// it is main-thread only; the ingest and the grid work on their own queues
// and deliver here through callbacks that hold the database weakly.
class DB : public std::enable_shared_from_this<DB> {
public:
    using Body = std::function<void()>;

    // Builds the database and starts the ingest on "SpotlightQueue".
    static std::shared_ptr<DB> create(LibraryServices services);
    ~DB();
    DB(const DB&) = delete;
    DB& operator=(const DB&) = delete;

    // Most files of the ingest's tag changes applied in one main-queue turn;
    // a turn also ends early once it has run for a few milliseconds.
    static constexpr size_t tagSliceFiles = 1000;

    const std::shared_ptr<const TagFormat> format;
    EventEmitter<> treeChanged;      // the tree was replaced (once, by the first full tree)
    EventEmitter<> childrenChanged;  // some node gained or lost children
    EventEmitter<> pathsChanged;     // some node gained or lost paths
    EventEmitter<> gridChanged;      // the GPS grid published a rebuild
    EventEmitter<> loadingStateChanged;

    // The live tree: the six sections only until the ingest delivers.
    const Tree& tree() const { return *tree_; }
    std::shared_ptr<const Tree> treePtr() const { return tree_; }
    // The same tree, for the commands that change it; they hand what changed
    // to noteChange or apply.
    Tree& mutableTree() { return *tree_; }
    const std::shared_ptr<AsyncMultiGrid>& asyncGrid() const { return asyncGrid_; }
    LoadingState loadingState() const { return loadingState_; }
    // True from the first scheduling of a folder pass until a pass finds
    // nothing stale, including while a directory is being read.
    bool isUpdatingDirectories() const { return folders_->isUpdatingDirectories(); }
    // True while a directory is read on the folder queue and its result has
    // not been applied yet.
    bool isReadingDirectory() const { return folders_->isReadingDirectory(); }
    bool isInBatch() const { return currentBatch_.has_value(); }
    // Whether tag changes from the ingest still wait for their turn.
    bool isApplyingTagChanges() const { return !pendingTags_.empty(); }
    UserDefaults& defaults() const { return *services_.defaults; }

    // ---- Change delivery ----

    // Children bit emits childrenChanged, paths bit pathsChanged; the grid bit
    // rebuilds the grid from the map node's paths (touchedPaths: what moved;
    // none means anything may have).
    void apply(WhatChanged bits, const std::optional<QuickStringSet>& touchedPaths = std::nullopt);
    // Runs the body with a batch open and applies what it noted at the end of
    // the outermost batch, so one action emits each event at most once.
    void performBatch(const Body& body);
    // Inside a batch the bits are collected, otherwise applied at once.
    void noteChange(WhatChanged bits);
    // Replaces the map node's paths when they differ, emits pathsChanged and
    // feeds the grid; nothing when equal.
    void setMapPaths(const Node::Paths& paths, const std::optional<QuickStringSet>& touchedPaths);

    // The ingest's permission-state callback, on the main thread: blocked or
    // loading again, never once the first tree has arrived.
    void permissionStateChanged(bool blocked);

    // ---- Pins ----

    // Pins every text element of the "pins" default in `tree`; anything else
    // stored there is ignored. Safe on any thread for a tree not yet published.
    static void loadPins(const UserDefaults& defaults, Tree& tree);
    void loadPins(Tree& tree) const { loadPins(*services_.defaults, tree); }
    // Stores the pins of the live tree, in natural order, under "pins".
    void savePins();

    // ---- Queries ----

    // The query node of an expression text (see Tree::openQuery), made and
    // filled when missing; null when the text does not parse.
    NodePtr openQuery(std::string_view text);
    // Saves the query of `text` under `name` (or renames it), or unsaves it,
    // and stores the saved queries under "queries"; false when nothing changed.
    bool saveQuery(std::string_view text, std::string_view name);
    bool unsaveQuery(std::string_view text);
    // Saves every well-formed element of the "queries" default in `tree`.
    // Safe on any thread for a tree not yet published.
    static void loadQueries(const UserDefaults& defaults, Tree& tree);

    // ---- Folders (the folder pass, main thread) ----

    // Starts a scanning pass unless one is running.
    void scheduleDirectoryUpdate() { folders_->scheduleDirectoryUpdate(); }
    // Marks the folder of a directory path stale (its whole subtree when
    // recursive) and schedules a pass; paths outside home or without a node
    // are ignored.
    void directoryChanged(const QuickString& path, bool recursive) {
        folders_->directoryChanged(path, recursive);
    }
    // Opens the folders with these full names and their ancestors, ahead of
    // the rest of the pass (FolderScanner::openDirectories).
    void openDirectories(const std::vector<QuickString>& fullNames) { folders_->openDirectories(fullNames); }
    // The queue directories are read on; tests hold it to catch a read in
    // flight, or sync on it to wait for one.
    SerialQueue& folderQueue() const { return folders_->folderQueue(); }

private:
    explicit DB(LibraryServices services);
    void startIngest();
    void setLoadingState(LoadingState state);
    void treeReady(std::shared_ptr<Tree> tree);
    // Queues the ingest's batch behind those still pending and applies what
    // fits in this turn; the rest follows in later turns, in order.
    void tagsChanged(Tree::TagChanges changes);
    // One turn's slice of the pending tag changes, in one batch; re-posts
    // itself while some remain.
    void applyTagSlice();
    void feedGrid(const std::optional<QuickStringSet>& touchedPaths);
    void saveQueries();
    // Big queries of `tree` are judged on "QueryQueue" and land here.
    void attachQueries(Tree& tree);
    void queryEvaluated(uint64_t id, Node::Paths found);

    LibraryServices services_;
    std::shared_ptr<AsyncMultiGrid> asyncGrid_;
    std::shared_ptr<Tree> tree_;
    std::shared_ptr<SpotlightThread> spotlightThread_;
    std::unique_ptr<FileSystemMonitor> fsMonitor_;
    std::optional<WhatChanged> currentBatch_;
    LoadingState loadingState_ = LoadingState::loading;
    // The ingest's tag batches not yet fully applied, oldest first; nextTag_
    // is the next change of the front one. A deque keeps the front batch in
    // place, so the iterator stays valid while later batches join.
    std::deque<Tree::TagChanges> pendingTags_;
    Tree::TagChanges::const_iterator nextTag_;
    // Destroyed first: a directory read in flight ends, and queued ingest
    // work finishes, while everything they refer to still exists.
    std::shared_ptr<SerialQueue> spotlightQueue_;
    std::shared_ptr<SerialQueue> queryQueue_;
    std::shared_ptr<FolderScanner> folders_;
};

}  // namespace qm
