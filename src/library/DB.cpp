#include "library/DB.h"

#include <chrono>
#include <string>
#include <utility>

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "geo/AsyncMultiGrid.h"
#include "library/FileSystemMonitor.h"
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
// A query that reads more files than this is judged off the main thread; at
// about half a microsecond a file, the ones below take a few milliseconds.
constexpr size_t querySyncLimit = 5000;

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
    // The pass is owned here and dies first, so both callbacks see a live database.
    folders_ = FolderScanner::create([this]() -> Tree& { return *tree_; },
                                     [this](WhatChanged bits) { apply(bits); });
}

DB::~DB() {
    // A read still in flight owns copies only; its result finds the pass
    // gone and is dropped.
    folders_.reset();
    // Finish the ingest's queued work before the objects it uses go.
    spotlightQueue_.reset();
    queryQueue_.reset();
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
    queryQueue_ = std::make_shared<SerialQueue>("QueryQueue");
    attachQueries(*tree_);

    SpotlightThread::Callbacks callbacks;
    callbacks.permissionState = [weak](bool blocked) {
        mainQueue().postWeak(weak, [blocked](DB& db) { db.permissionStateChanged(blocked); });
    };
    // The pins go into the new tree here, on the ingest's queue, so the tree
    // is complete when the main thread first sees it.
    callbacks.treeReady = [weak, defaults = services_.defaults](std::shared_ptr<Tree> tree) {
        loadPins(*defaults, *tree);
        loadQueries(*defaults, *tree);
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
    attachQueries(*tree);
    // Queries opened or saved before the library arrived go on in the new
    // tree (the saved ones were read from the settings already, unless they
    // were saved meanwhile).
    for (const TreeQueries::Saved& q : tree_->queries().saved())
        if (!tree->queries().find(q.expression)) tree->saveQuery(q.expression, q.name);
    for (const std::string& text : tree_->queries().unsavedTexts()) tree->openQuery(text);
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
    if (!tree_->mapNode()->resolvedPaths().empty()) feedGrid(std::nullopt);
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
    asyncGrid_->update(tree_->mapNode()->resolvedPaths(), touchedPaths);
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
    const NodePtr& map = tree_->mapNode();
    if (map->isPinReference() || map->paths() == paths) return;
    map->replacePaths(paths);
    pathsChanged.emit();
    feedGrid(touchedPaths);
}

// ---- Queries ----

void DB::attachQueries(Tree& tree) {
    std::weak_ptr<DB> weak = weak_from_this();
    std::weak_ptr<SerialQueue> queue = queryQueue_;
    tree.setQueryEvaluator(
        [weak, queue](TreeQueries::Evaluation job) {
            std::shared_ptr<SerialQueue> q = queue.lock();
            if (!q) return;  // the database is going
            q->async([weak, job = std::move(job)]() mutable {
                Node::Paths found = TreeQueries::judge(job);
                // The snapshot goes back with the files: only the main thread
                // counts its holders (the tree copies its map while one lives).
                mainQueue().post([weak, job = std::move(job), found = std::move(found)]() mutable {
                    if (auto db = weak.lock()) db->queryEvaluated(job.id, std::move(found));
                });
            });
        },
        querySyncLimit);
}

void DB::queryEvaluated(uint64_t id, Node::Paths found) {
    noteChange(tree_->deliverQuery(id, std::move(found)));
}

NodePtr DB::openQuery(std::string_view text) {
    WhatChanged changed = WhatChanged::none;
    NodePtr node = tree_->openQuery(text, &changed);
    noteChange(changed);
    return node;
}

bool DB::saveQuery(std::string_view text, std::string_view name) {
    NodePtr node = tree_->queries().find(text);
    if (node && tree_->queries().isSaved(*node) && node->displayName().utf8() == TreeQueries::trimmed(name))
        return false;
    if (!tree_->saveQuery(text, name)) return false;
    saveQueries();
    noteChange(WhatChanged::children);
    return true;
}

bool DB::unsaveQuery(std::string_view text) {
    if (!tree_->unsaveQuery(text)) return false;
    saveQueries();
    noteChange(WhatChanged::children);
    return true;
}

void DB::loadQueries(const UserDefaults& defaults, Tree& tree) {
    auto stored = defaults.value(settings::queriesKey);
    if (!stored || !stored->is_array()) return;
    for (const DefaultsValue& q : *stored) {
        if (!q.is_object()) continue;
        auto name = q.find("name");
        auto expression = q.find("expression");
        if (name == q.end() || expression == q.end() || !name->is_string() || !expression->is_string()) continue;
        tree.saveQuery(expression->get<std::string>(), name->get<std::string>());
    }
}

void DB::saveQueries() {
    DefaultsValue list = DefaultsValue::array();
    for (const TreeQueries::Saved& q : tree_->queries().saved())
        list.push_back({{"name", q.name}, {"expression", q.expression}});
    services_.defaults->setValue(settings::queriesKey, list);
}

// ---- Pins ----

void DB::loadPins(const UserDefaults& defaults, Tree& tree) {
    for (const std::string& pin : defaults.get(settings::pins))
        tree.addPin(QuickString::literal(pin));
}

void DB::savePins() {
    std::vector<std::string> pins;
    for (const NodePtr& pin : tree_->pinnedNode()->sortedChildren()) {
        std::string text = pin->isQuery() ? "Queries/" : "Tags/";
        text += pin->name.utf8();
        pins.push_back(std::move(text));
    }
    services_.defaults->set(settings::pins, pins);
}

}  // namespace qm
