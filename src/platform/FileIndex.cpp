#include "platform/FileIndex.h"

#include <absl/base/thread_annotations.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "core/DirectoryReader.h"
#include "core/Log.h"
#include "core/Mutex.h"
#include "core/PathNames.h"
#include "core/SerialQueue.h"
#include "core/XdgDirectories.h"
#include "media/ImageLocationReader.h"
#include "media/MovieLocationReader.h"
#include "platform/IndexQuery.h"
#include "platform/IndexScope.h"
#include "platform/IndexState.h"
#include "platform/IndexStore.h"
#include "platform/InotifyTree.h"

namespace qm {

namespace {

// Changes gathered before a crawl hands them on, so a long crawl reports
// progress in batches of a sensible size.
constexpr size_t crawlFlushSize = 20000;
// Rows a crawl hands to the store together. Each transaction rewrites every
// page its rows land on, and a crawl's rows land all over the table (the key
// is the inode, not the walk's order): written per flush, the first crawl of
// a million files spent more than twice the walk's own time in the writer.
constexpr size_t crawlStoreBatchSize = 200000;
// Position reads finished before their results are handed on together.
constexpr size_t positionFlushSize = 256;

double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

std::string setupLine(const char* what, double seconds, size_t count, const char* noun) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "[setup] %s: %.3f seconds (%zu %s)", what, seconds, count, noun);
    return buffer;
}

std::optional<GPS> readPosition(const std::string& path) {
    std::optional<GPS> pos = ImageLocationReader::handles(path) ? ImageLocationReader::read(path)
                                                                : MovieLocationReader::read(path);
    if (pos && !pos->isOnGlobe()) pos.reset();
    return pos;
}

}  // namespace

struct FileIndex::Shared {
    std::atomic<bool> stopping{false};
    std::condition_variable timerWake;  // with `mutex`: wakes the rescan timer to stop
    std::atomic<uint64_t> contentReads{0};
    mutable Mutex mutex;
    mutable std::condition_variable changed;
    std::vector<InotifyEvent> events ABSL_GUARDED_BY(mutex);  // waiting for the index queue
    bool drainScheduled ABSL_GUARDED_BY(mutex) = false;
    Stats stats ABSL_GUARDED_BY(mutex);
    std::atomic<size_t> itemsSeen{0};
    uint64_t nextObserverId ABSL_GUARDED_BY(mutex) = 1;
    std::vector<std::pair<uint64_t, std::shared_ptr<const EventObserver>>> observers ABSL_GUARDED_BY(mutex);
    std::vector<std::string> problems ABSL_GUARDED_BY(mutex);
};

FileIndex::FileIndex(Options options)
    : options_(std::move(options)),
      tagQuery_(std::make_shared<IndexQuery>(MetadataQueryKind::tags)),
      gpsQuery_(std::make_shared<IndexQuery>(MetadataQueryKind::gps)),
      shared_(std::make_shared<Shared>()),
      state_(std::make_unique<IndexState>()) {
    if (options_.roots.empty()) options_.roots.push_back(homeDirectory());
    if (options_.excludedPaths.empty())
        options_.excludedPaths.push_back(xdgDataHome() + "/Trash");
    if (!options_.databasePath) options_.databasePath = IndexStore::defaultPath();
    // The index must never index its own database: every write would be a
    // change to report and store again.
    if (!options_.databasePath->empty()) options_.excludedPaths.push_back(parentOf(*options_.databasePath));
    scope_ = IndexScope(options_.roots, options_.excludedPaths);
    servesHome_ = scope_.roots() == std::vector<std::string>{IndexScope::normalized(homeDirectory())};
}

FileIndex::~FileIndex() {
    stop();
}

std::shared_ptr<MetadataQuery> FileIndex::tagQuery() const {
    return tagQuery_;
}
std::shared_ptr<MetadataQuery> FileIndex::gpsQuery() const {
    return gpsQuery_;
}

void FileIndex::problem(const std::string& sentence) {
    {
        MutexLock lock(shared_->mutex);
        shared_->problems.push_back(sentence);
    }
    log("[setup] " + sentence);
}

std::vector<std::string> FileIndex::problems() const {
    MutexLock lock(shared_->mutex);
    return shared_->problems;
}

void FileIndex::log(const std::string& line) const {
    if (options_.log)
        options_.log(line);
    else
        logTaggedLine(line);
}

void FileIndex::start() {
    if (queue_) return;
    storeQueue_ = std::make_unique<SerialQueue>("IndexStoreQueue");
    positionQueue_ = std::make_unique<SerialQueue>("IndexPositionQueue");
    queue_ = std::make_unique<SerialQueue>("IndexQueue");
    if (options_.live) {
        InotifyTree::Options o;
        o.roots = scope_.roots();
        o.excludedPaths = scope_.excludedPaths();
        o.coalesce = options_.coalesce;
        o.maxWatches = options_.maxWatches;
        o.unwatchedRescanInterval = options_.unwatchedRescanInterval;
        o.simulatedStartError = options_.simulatedWatchStartError;
        // The first crawl places the watches as it reads each folder: one walk, not two.
        o.ownerPlacesFirstWatches = true;
        // A start failure is told in one line of ours below. Lines said while
        // starting (the watcher's thread may already be adding watches, and
        // say it reached the limit) wait until it is known which they are.
        struct Starting {
            Mutex mutex;
            bool done ABSL_GUARDED_BY(mutex) = false;
            std::vector<std::string> held ABSL_GUARDED_BY(mutex);
        };
        auto starting = std::make_shared<Starting>();
        o.log = [this, starting](const std::string& line) {
            {
                MutexLock lock(starting->mutex);
                if (!starting->done) {
                    starting->held.push_back(line);
                    return;
                }
            }
            log(line);
        };
        // Watching starts before the crawl, and each folder's watch is in
        // place before the crawl lists it, so nothing changed during it is missed.
        tree_ = std::make_unique<InotifyTree>(std::move(o), [this](std::vector<InotifyEvent> batch) {
            notifyObservers(batch);
            bool schedule = false;
            {
                MutexLock lock(shared_->mutex);
                for (auto& e : batch)
                    shared_->events.push_back(std::move(e));
                schedule = !shared_->drainScheduled;
                shared_->drainScheduled = true;
                shared_->stats.settled = false;
            }
            if (schedule) queue_->async([this] { handleEvents(); });
        });
        const bool started = tree_->start();
        std::vector<std::string> held;
        {
            MutexLock lock(starting->mutex);
            starting->done = true;
            held = std::move(starting->held);
        }
        if (started)
            for (const std::string& line : held)
                log(line);
        if (!started) {
            // Out of inotify instances (desktops running many programs reach
            // the per-user limit): go on as at the watch limit.
            tree_.reset();
            char line[512];
            std::snprintf(line, sizeof line, "%s; the indexed folders are rescanned every %.0f seconds",
                          held.empty() ? "[watch] Cannot watch for file changes" : held.back().c_str(),
                          std::chrono::duration<double>(options_.unwatchedRescanInterval).count());
            log(line);
            rescanTimer_ = std::jthread([this] {
                MutexLock lock(shared_->mutex);
                while (!shared_->stopping) {
                    const auto due = std::chrono::steady_clock::now() + options_.unwatchedRescanInterval;
                    while (!shared_->stopping && lock.waitUntil(shared_->timerWake, due)) {
                    }
                    if (shared_->stopping) break;
                    lock.unlock();
                    queue_->async([this] { rescanRoots(); });
                    lock.lock();
                }
            });
        }
    }
    queue_->async([this] {
        load();
        if (shared_->stopping) return;
        crawlRoots();
    });
}

void FileIndex::rescanRoots() {
    QM_ASSERT_ON_QUEUE(queue_.get());
    if (shared_->stopping || !crawled_) return;
    for (const std::string& root : scope_.roots()) {
        if (shared_->stopping) return;
        crawl(root, ++pass_, true);
    }
    flush();
    updateStats();
}

void FileIndex::stop() {
    if (!queue_) return;
    {
        MutexLock lock(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->timerWake.notify_all();
    if (rescanTimer_.joinable()) rescanTimer_.join();
    if (tree_) tree_->stop();
    // Index tasks see the flag and post nothing more; position tasks still
    // running hand their result to a queue that still exists.
    queue_->sync([] {});
    positionQueue_.reset();
    // Writes under way may still post to the index queue (after damage);
    // later ones see the flag.
    storeQueue_->sync([] {});
    queue_.reset();
    storeQueue_.reset();  // finishes the writes already handed to it
    liveLock_.release();
    tree_.reset();
    MutexLock lock(shared_->mutex);
    shared_->changed.notify_all();
}

void FileIndex::load() {
    QM_ASSERT_ON_QUEUE(queue_.get());
    const auto began = std::chrono::steady_clock::now();
    const std::string path = *options_.databasePath;
    std::vector<IndexRecord> withMetadata;
    bool hasSavedState = false;
    if (!path.empty()) {
        storeQueue_->sync([&] {
            QM_ASSERT_ON_QUEUE(storeQueue_.get());
            store_ = std::make_unique<IndexStore>();
            // The file is shared: while another live index keeps it, emptying
            // or replacing it would pull the ground from under that one.
            auto mayReplace = [this, path] {
                return liveLock_.holds() ? !liveLock_.heldByOthers() : !IndexLiveLock::isHeld(path);
            };
            const auto result =
                store_->open(path, [this](const std::string& sentence) { problem(sentence); }, mayReplace);
            if (result == IndexStore::OpenResult::unavailable) {
                store_.reset();
                return;
            }
            if (options_.rebuild) {
                // Left as it was, the crawl's rows still replace every stored one.
                if (!store_->clear()) {
                    problem("Cannot clear the index database " + path +
                            " (another index may be using it); the index runs from memory");
                    store_.reset();
                }
                return;
            }
            bool ok = false;
            withMetadata = store_->load(true, ok);
            // A store with nothing to show gains nothing from answering early,
            // and the crawl's findings then arrive as one gathering, not as updates.
            hasSavedState = result == IndexStore::OpenResult::opened && !withMetadata.empty();
            // Damage found while reading: the store started again empty.
            if (!ok) {
                withMetadata.clear();
                hasSavedState = false;
            }
        });
    }
    storeUsable_ = store_ != nullptr;
    // Rows of roots indexed before but not now are dropped for good.
    std::vector<MetadataItem> outside;
    auto dropOutside = [this, &outside](std::vector<IndexRecord>& rows) {
        std::erase_if(rows, [&](const IndexRecord& r) {
            if (scope_.contains(r.path)) return false;
            outside.push_back(r.item);
            return true;
        });
    };
    auto take = [this](std::vector<IndexRecord>& rows, bool notify) {
        for (IndexRecord& r : rows) state_->load(std::move(r), notify);
    };
    dropOutside(withMetadata);
    if (!hasSavedState) {
        take(withMetadata, true);
        return;
    }

    // What was known last time answers the queries at once, before it is
    // taken in; the crawl then reports what changed since.
    {
        IndexState::Changes c = IndexState::gatheringOf(withMetadata);
        if (!c.tags.empty()) tagQuery_->publish(std::move(c.tags));
        if (!c.gps.empty()) gpsQuery_->publish(std::move(c.gps));
    }
    tagQuery_->markGathered();
    gpsQuery_->markGathered();
    take(withMetadata, false);
    withMetadata.clear();
    withMetadata.shrink_to_fit();
    flush();  // the position reads the saved state still lacks
    std::vector<IndexRecord> rest;
    bool restOk = true;
    storeQueue_->sync([&] {
        QM_ASSERT_ON_QUEUE(storeQueue_.get());
        restOk = false;
        rest = store_->load(false, restOk);
    });
    // The store started again empty: what is known must be written anew.
    if (!restOk) state_->markAllDirty();
    dropOutside(rest);
    take(rest, false);
    rest.clear();
    if (!outside.empty())
        storeQueue_->async([this, outside = std::move(outside)] { storeChanges({}, outside); });
    log(setupLine("Index database", secondsSince(began), state_->itemCount(), "stored items"));
    updateStats();
}

void FileIndex::crawlRoots() {
    QM_ASSERT_ON_QUEUE(queue_.get());
    const auto began = std::chrono::steady_clock::now();
    const uint32_t pass = ++pass_;
    for (const std::string& root : scope_.roots()) {
        if (shared_->stopping) return;
        crawl(root, pass, true, /*placeWatches=*/tree_ != nullptr);
    }
    if (tree_) {
        // The watcher takes the crawl's watches over (and counts those the
        // limit refused) before the live lock looks at them.
        tree_->firstWatchesPlaced();
        tree_->waitUntilReady(std::chrono::minutes(2));
    }
    flush();
    crawled_ = true;
    holdLiveLockOnceStored();
    log(setupLine("Index crawl", secondsSince(began), state_->itemCount(), "files and folders"));
    tagQuery_->markGathered();
    maybeFinishPositions();
    updateStats();
}

void FileIndex::holdLiveLockOnceStored() {
    // Once the rows handed over so far are written the saved state follows
    // the disk, as long as every folder is watched: readers may then answer
    // from it.
    if (tree_ && servesHome_ && storeUsable_ && tree_->unwatchedCount() == 0)
        storeQueue_->async([this] {
            QM_ASSERT_ON_QUEUE(storeQueue_.get());
            if (store_ && store_->isOpen() && !shared_->stopping) liveLock_.acquire(store_->path());
        });
}

void FileIndex::crawl(const std::string& root, uint32_t pass, bool sweepAfter, bool placeWatches) {
    crawling_ = true;
    walk(root, pass, sweepAfter, placeWatches);
    crawling_ = false;
}

void FileIndex::walk(const std::string& root, uint32_t pass, bool sweepAfter, bool placeWatches) {
    QM_ASSERT_ON_QUEUE(queue_.get());
    // Watched before it is looked at: a root that is not there is then
    // retried by the watcher.
    const bool rootWatched =
        placeWatches && tree_->watchDirectory(root) == InotifyTree::WatchResult::watched;
    struct stat st;
    if (::lstat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (sweepAfter) state_->removeSubtree(root);
        return;
    }
    // Only what was known before can be left unseen: a first crawl has nothing to sweep.
    sweepAfter = sweepAfter && state_->knowsAtOrBelow(root);
    state_->visit(root, st, pass);

    struct Pending {
        std::string path;
        dev_t device;
        bool watch;  // its watch is to be placed before it is listed
    };
    std::vector<Pending> stack{{root, st.st_dev, false}};
    bool topWatched = rootWatched;
    std::string path;
    while (!stack.empty()) {
        if (shared_->stopping) return;
        Pending dir = std::move(stack.back());
        stack.pop_back();
        // What the watcher would do on its own first pass: a folder whose
        // watch cannot be placed leaves its subtree to the watcher's rescans.
        const bool watched =
            std::exchange(topWatched, false) ||
            (dir.watch && tree_->watchDirectory(dir.path) == InotifyTree::WatchResult::watched);
        DirectoryReader listing = DirectoryReader::open(dir.path, O_NOFOLLOW);
        if (!listing.isOpen()) {
            const int error = listing.error();
            if (error == ENOENT || error == ENOTDIR || error == ELOOP)
                state_->refresh(dir.path);  // gone, or no folder any more
            else
                state_->keepSubtree(dir.path, pass);  // unreadable: what it held is unknown
            continue;
        }
        const int fd = listing.fd();
        const std::string prefix = dir.path == "/" ? "/" : dir.path + "/";
        while (const dirent* entry = listing.next()) {
            const char* name = entry->d_name;
            if (name[0] == '.') continue;  // hidden
            // Symlinks, devices, sockets and pipes carry no tags of their own.
            const unsigned char type = entry->d_type;
            if (type != DT_UNKNOWN && type != DT_REG && type != DT_DIR) continue;
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // vanished meanwhile
            path.assign(prefix).append(name);
            if (S_ISDIR(st.st_mode)) {
                if (scope_.isExcluded(path)) continue;
                if (st.st_dev != dir.device && InotifyTree::isPseudoFileSystem(path)) continue;
                state_->visit(path, st, pass, false, fd, name);
                stack.push_back({path, st.st_dev, watched});
            } else if (S_ISREG(st.st_mode)) {
                state_->visit(path, st, pass, false, fd, name);
            }
        }
        shared_->itemsSeen.store(state_->itemCount(), std::memory_order_relaxed);
        if (state_->pendingChangeCount() >= crawlFlushSize) flush();
    }
    if (sweepAfter) state_->sweep(root, pass);
}

void FileIndex::handleEvents() {
    QM_ASSERT_ON_QUEUE(queue_.get());
    if (shared_->stopping) return;
    std::vector<InotifyEvent> events;
    {
        MutexLock lock(shared_->mutex);
        events.swap(shared_->events);
        shared_->drainScheduled = false;
    }
    for (const InotifyEvent& e : events) {
        switch (e.kind) {
            case InotifyEvent::Kind::attributes:
                // A tag write within one ctime granule of the last read leaves
                // the stat as it was: the tags are read again regardless.
                state_->refresh(e.path, /*rereadTags=*/true);
                break;
            case InotifyEvent::Kind::created:
            case InotifyEvent::Kind::written:
            case InotifyEvent::Kind::deleted:
                // Events are hints: what the path holds now decides.
                state_->refresh(e.path);
                break;
            case InotifyEvent::Kind::moved: {
                if (state_->knows(e.oldPath)) {
                    state_->moveSubtree(e.oldPath, e.path);
                    struct stat st;
                    // Gone again already: a later event says where to.
                    if (::lstat(e.path.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
                        state_->visit(e.path, st, 0);
                } else {
                    // Nothing known at the old place: read the new one as found.
                    struct stat st;
                    if (::lstat(e.path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                        crawl(e.path, ++pass_, false);
                    else
                        state_->refresh(e.path);
                }
                break;
            }
            case InotifyEvent::Kind::rescan:
                crawl(e.path, ++pass_, true);
                break;
        }
    }
    flush();
    updateStats();
}

void FileIndex::flush() {
    QM_ASSERT_ON_QUEUE(queue_.get());
    // Rows are copied only when they go to the store: a crawl's wait as references.
    IndexState::Changes c = state_->flush(storeUsable_ ? IndexState::Rows::hold : IndexState::Rows::none);
    if (!c.tags.empty()) tagQuery_->publish(std::move(c.tags));
    if (!c.gps.empty()) gpsQuery_->publish(std::move(c.gps));
    if (storeUsable_) {
        // Rows wait only while a crawl goes on and nothing was deleted: a
        // deletion travels with every row noted before it, which the store
        // writes first, so the order of changes to one item is kept.
        const bool hold = crawling_ && c.deletions.empty() && state_->heldRowCount() < crawlStoreBatchSize;
        if (!hold && (state_->heldRowCount() != 0 || !c.deletions.empty())) {
            storeQueue_->async([this, upserts = state_->takeHeldRows(), deletions = std::move(c.deletions)] {
                storeChanges(upserts, deletions);
            });
        }
    }
    // Reading contents competes with the crawl for the disk and the cores;
    // the positions wait until the walk is done.
    if (!crawling_) startPositionReads();
}

void FileIndex::storeChanges(const std::vector<IndexRecord>& upserts, const std::vector<MetadataItem>& deletions) {
    QM_ASSERT_ON_QUEUE(storeQueue_.get());
    if (!store_) return;
    const unsigned rebuilds = store_->rebuildCount();
    if (store_->apply(upserts, deletions)) return;
    // The saved state now lacks what readers would look for: they must not
    // take it as current (after damage, until all of it is written again).
    liveLock_.release();
    if (store_->rebuildCount() == rebuilds || !store_->isOpen() || shared_->stopping) return;
    // Damage found while writing: the store started again empty. Everything
    // the index holds goes into it, not just the next changes.
    queue_->async([this] {
        if (shared_->stopping) return;
        state_->markAllDirty();
        flush();
        if (crawled_) holdLiveLockOnceStored();
        updateStats();
    });
}

void FileIndex::startPositionReads() {
    QM_ASSERT_ON_QUEUE(queue_.get());
    std::vector<IndexState::PositionRead> reads = state_->takePositionReads();
    if (reads.empty()) return;
    if (readsInFlight_ == 0) readsBegan_ = std::chrono::steady_clock::now();
    readsInFlight_ += reads.size();
    for (IndexState::PositionRead& read : reads) {
        positionQueue_->async([this, read = std::move(read)] {
            if (shared_->stopping) return;
            QM_ASSERT_ON_QUEUE(positionQueue_.get());
            std::optional<GPS> pos = readPosition(read.path);
            ++shared_->contentReads;
            queue_->async([this, read, pos] {
                if (shared_->stopping) return;
                --readsInFlight_;
                ++readsDone_;
                state_->setPosition(read, pos ? std::optional(pos->latitude) : std::nullopt,
                                    pos ? std::optional(pos->longitude) : std::nullopt);
                if (readsInFlight_ == 0 || readsDone_ % positionFlushSize == 0) {
                    flush();
                    maybeFinishPositions();
                    updateStats();
                }
            });
        });
    }
}

void FileIndex::maybeFinishPositions() {
    QM_ASSERT_ON_QUEUE(queue_.get());
    if (!crawled_ || readsInFlight_ != 0 || gpsQuery_->isGathered()) return;
    log(setupLine("Index positions", readsDone_ ? secondsSince(readsBegan_) : 0.0, readsDone_, "files read"));
    gpsQuery_->markGathered();
}

void FileIndex::updateStats() {
    QM_ASSERT_ON_QUEUE(queue_.get());
    MutexLock lock(shared_->mutex);
    Stats& s = shared_->stats;
    s.items = state_->itemCount();
    shared_->itemsSeen.store(s.items, std::memory_order_relaxed);
    s.tagged = state_->taggedCount();
    s.positioned = state_->positionedCount();
    s.gathered = tagQuery_->isGathered() && gpsQuery_->isGathered();
    s.settled = s.gathered && crawled_ && readsInFlight_ == 0 && shared_->events.empty() &&
                !shared_->drainScheduled && !state_->hasPendingChanges();
    shared_->changed.notify_all();
}

bool FileIndex::watcherBusy() const {
    return tree_ && tree_->pendingEventCount() != 0;
}

FileIndex::Stats FileIndex::stats() const {
    MutexLock lock(shared_->mutex);
    Stats s = shared_->stats;
    s.contentReads = shared_->contentReads.load();
    // Events still in the watcher's hands are changes not applied yet.
    s.settled = s.settled && !watcherBusy();
    return s;
}

bool FileIndex::waitUntilSettled(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    MutexLock lock(shared_->mutex);
    for (;;) {
        if (shared_->stats.settled && !watcherBusy()) return true;
        if (shared_->stopping) return false;
        // Events the watcher drops as hidden or excluded bring no
        // notification, so its count is looked at again now and then.
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        lock.waitUntil(shared_->changed, std::min(deadline, now + std::chrono::milliseconds(20)));
    }
}

void FileIndex::simulateOverflow() {
    if (tree_) tree_->simulateOverflow();
}

size_t FileIndex::watchCount() const {
    return tree_ ? tree_->watchCount() : 0;
}

size_t FileIndex::itemsSeen() const {
    return shared_->itemsSeen.load(std::memory_order_relaxed);
}

uint64_t FileIndex::addEventObserver(EventObserver observer) {
    MutexLock lock(shared_->mutex);
    const uint64_t id = shared_->nextObserverId++;
    shared_->observers.emplace_back(id, std::make_shared<const EventObserver>(std::move(observer)));
    return id;
}

void FileIndex::removeEventObserver(uint64_t id) {
    MutexLock lock(shared_->mutex);
    std::erase_if(shared_->observers, [id](const auto& o) { return o.first == id; });
}

void FileIndex::notifyObservers(const std::vector<InotifyEvent>& batch) const {
    std::vector<std::shared_ptr<const EventObserver>> observers;
    {
        MutexLock lock(shared_->mutex);
        for (const auto& o : shared_->observers)
            observers.push_back(o.second);
    }
    for (const auto& o : observers)
        (*o)(batch);
}

}  // namespace qm
