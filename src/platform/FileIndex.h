#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "library/MetadataQuery.h"
#include "platform/IndexLiveLock.h"
#include "platform/IndexRecord.h"
#include "platform/IndexScope.h"

namespace qm {

class IndexQuery;
class IndexState;
class IndexStore;
class InotifyTree;
class SerialQueue;
struct InotifyEvent;

// The embedded metadata index: every tagged file and every photo or movie
// with a position below the indexed roots, behind the two metadata queries.
//
// Start-up answers the queries from the saved state at once, then a crawl
// brings the saved state up to date and reports the differences as ordinary
// updates; with no saved state the first crawl gathers. Inotify keeps it
// current while it runs. The state lives on the queue "IndexQueue";
// positions are read on "IndexPositionQueue" (they open file contents) and
// rows are written on "IndexStoreQueue", so neither holds up the other.
class FileIndex {
public:
    struct Options {
        std::vector<std::string> roots;          // absolute; empty: the home directory
        std::vector<std::string> excludedPaths;  // empty: the Trash of the data home
        // The database file; none: the default under the cache home; "": memory only.
        std::optional<std::string> databasePath;
        bool rebuild = false;  // drop the saved state and crawl afresh
        bool live = true;      // follow changes with inotify
        std::chrono::milliseconds coalesce{300};
        // Passed on to the watcher (test seams).
        size_t maxWatches = 0;
        std::chrono::milliseconds unwatchedRescanInterval{std::chrono::seconds(60)};
        int simulatedWatchStartError = 0;
        // Receives the log lines (without newline); standard output by default.
        std::function<void(const std::string& line)> log;
    };

    struct Stats {
        size_t items = 0;           // files and folders known
        size_t tagged = 0;          // with at least one tag
        size_t positioned = 0;      // with latitude and longitude
        uint64_t contentReads = 0;  // files opened to read a position
        bool gathered = false;      // both queries finished gathering
        bool settled = false;       // gathered, crawled, nothing pending
    };

    explicit FileIndex(Options options);
    ~FileIndex();  // stops
    FileIndex(const FileIndex&) = delete;
    FileIndex& operator=(const FileIndex&) = delete;

    // Begins loading and crawling; returns at once. Call once.
    void start();
    void stop();

    std::shared_ptr<MetadataQuery> tagQuery() const;
    std::shared_ptr<MetadataQuery> gpsQuery() const;

    Stats stats() const;
    // Waits (without pumping the main queue) until the crawl is done and no
    // event or position read is pending.
    bool waitUntilSettled(std::chrono::milliseconds timeout) const;

    // Test seam: handled exactly as a lost-events overflow of the kernel queue.
    void simulateOverflow();
    size_t watchCount() const;

    // Files and folders seen so far, updated while the crawl runs (stats()
    // only counts at its end); for a progress display. Any thread.
    size_t itemsSeen() const;

    // Lets another consumer see every batch of the index's inotify watcher,
    // so that the program runs one inotify instance (and one set of watches)
    // for the index and the folder watcher. Observers run on the watcher's
    // thread and must return quickly; one may still be called once while
    // removeEventObserver runs. Any thread.
    using EventObserver = std::function<void(const std::vector<InotifyEvent>& batch)>;
    uint64_t addEventObserver(EventObserver observer);
    void removeEventObserver(uint64_t id);
    // What went wrong with the saved index (damaged, another layout, not
    // usable), one sentence each, as also logged. Any thread.
    std::vector<std::string> problems() const;

    // Whether inotify events come at all (live and started).
    bool isWatching() const { return tree_ != nullptr; }

private:
    struct Shared;
    void load();
    void crawlRoots();
    // With `placeWatches` (the first crawl), each folder's watch is placed
    // just before the folder is listed.
    void crawl(const std::string& root, uint32_t pass, bool sweepAfter, bool placeWatches = false);
    void walk(const std::string& root, uint32_t pass, bool sweepAfter, bool placeWatches);
    void handleEvents();
    void flush();
    // Writes a flush's rows; after damage, has all rows written again.
    void storeChanges(const std::vector<IndexRecord>& upserts, const std::vector<MetadataItem>& deletions);
    void startPositionReads();
    void maybeFinishPositions();
    void updateStats();
    void notifyObservers(const std::vector<InotifyEvent>& batch) const;
    void rescanRoots();
    // True when the watcher has events it has not handed on yet.
    bool watcherBusy() const;
    void log(const std::string& line) const;
    void problem(const std::string& sentence);
    // Takes the live lock after the rows handed to the store so far are written.
    void holdLiveLockOnceStored();

    Options options_;
    IndexScope scope_;  // the roots and exclusions of options_, normalised
    std::shared_ptr<IndexQuery> tagQuery_, gpsQuery_;
    std::shared_ptr<Shared> shared_;
    // Confined to IndexQueue (checked by QM_ASSERT_ON_QUEUE in debug builds).
    std::unique_ptr<IndexState> state_;
    uint32_t pass_ = 0;
    bool crawled_ = false;
    bool crawling_ = false;
    size_t readsInFlight_ = 0;
    std::chrono::steady_clock::time_point readsBegan_{};
    size_t readsDone_ = 0;
    bool storeUsable_ = false;
    // Confined to IndexStoreQueue.
    std::unique_ptr<IndexStore> store_;
    // Held while the saved state follows the home folder's changes, so that
    // readers may answer from it. Taken on IndexStoreQueue; stop() drops it
    // once that queue is gone.
    IndexLiveLock liveLock_;
    bool servesHome_ = false;  // the one root is the home folder
    std::unique_ptr<InotifyTree> tree_;
    // Without inotify: rescans the roots every unwatchedRescanInterval.
    std::jthread rescanTimer_;
    std::unique_ptr<SerialQueue> storeQueue_, positionQueue_, queue_;
};

}  // namespace qm
