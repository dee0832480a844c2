#pragma once

#include <absl/base/thread_annotations.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/Mutex.h"
#include "core/UniqueFd.h"

namespace qm {

// One change seen below the watched roots. Paths are absolute raw bytes (no
// encoding assumed, any byte but NUL may occur, newlines included).
struct InotifyEvent {
    enum class Kind : uint8_t {
        created,     // `path` appeared (created, or moved in from outside the tree)
        deleted,     // `path` is gone (deleted, or moved out of the tree)
        moved,       // renamed inside the tree: `oldPath` is now `path`
        attributes,  // metadata of `path` changed (xattrs such as tags, mode, times)
        written,     // a file at `path` was closed after being opened for writing
        rescan,      // events under `path` were lost: reread it and its whole subtree
    };
    Kind kind = Kind::created;
    std::string path;
    std::string oldPath;       // moved only
    bool isDirectory = false;  // as the kernel reported it (false for rescan)

    bool operator==(const InotifyEvent&) const = default;
};

// Watches every directory under a set of roots with one inotify instance and
// reports batches of InotifyEvents.
//
// Contract for consumers:
// - Threads. All work, and every call of the callback, happens on the tree's
//   own thread. The callback must return quickly (copy the batch and hop to
//   your own queue) and must not destroy the tree; it may call stop(), which
//   then only asks the thread to end (the owner's stop() or the destructor
//   joins it). start(), stop(), simulateOverflow() and the destructor are
//   called from the owning thread; the counters may be read from any thread.
// - Lifetime. start() returns at once; watches are placed on the tree's
//   thread, waitUntilReady() tells when the first pass is done. To miss
//   nothing, start the tree before crawling the roots yourself: changes made
//   during your crawl then arrive afterwards (possibly twice, which is
//   harmless). The initial pass reports nothing. After stop() returns no
//   callback runs; events still waiting to be coalesced are dropped.
// - Order. Apply a batch in order: each event is stated in terms of the paths
//   valid at its moment (a write to a/x followed by a move of a to b arrives
//   as written(a/x), moved(a -> b)). Events are hints: by the time you see
//   one the file may have changed again, so stat the path rather than trust
//   the kind. A path may be reported created when it already existed.
// - Directories. A created directory (new or moved in) is watched at once and
//   its entries, made before the watch could exist, are reported as created
//   after it, recursively. A deleted directory (removed or moved out) takes
//   its whole subtree with it: its entries may or may not come as deleted
//   events of their own, so drop everything under the path. A moved
//   directory moves its subtree; later events use the new paths. A move
//   onto an existing path replaces what was there.
// - Filter. Entries whose name begins with "." and the excluded paths (with
//   their subtrees) are neither watched nor reported; a rename from such a
//   name to a visible one is a created event, the reverse a deleted one.
//   Symlinks are reported as entries but never followed; directories on
//   pseudo file systems (proc, sysfs, cgroup, ...) are not entered. Roots
//   themselves are never filtered; roots inside other roots are dropped.
// - Coalescing. Events are gathered for `coalesce` after the first one of a
//   batch, then delivered together; repeated attributes/written events for
//   one path inside a batch are reported once.
// - Lost events. A kernel queue overflow (or simulateOverflow()) brings a
//   rescan event for every root; the watches are then resynchronised with
//   the disk. When no watch can be added (the user's inotify watch limit,
//   or options.maxWatches), the directories left unwatched are retried and
//   reported as rescan events every `unwatchedRescanInterval`, and one log
//   line says so. A root that vanishes is reported deleted and retried the
//   same way (a rescan event once it is back).
class InotifyTree {
public:
    struct Options {
        std::vector<std::string> roots;          // absolute directory paths
        std::vector<std::string> excludedPaths;  // absolute; skipped with their subtrees (e.g. the Trash)
        bool skipHidden = true;                  // skip names beginning with "."
        std::chrono::milliseconds coalesce{200};
        std::chrono::milliseconds unwatchedRescanInterval{std::chrono::seconds(60)};
        // Test seam: behave as if the kernel refused more than this many
        // watches (0: only the kernel's own limit).
        size_t maxWatches = 0;
        // Test seam: start() fails as if inotify_init1 had failed with this
        // error (0: it really tries).
        int simulatedStartError = 0;
        // Receives log lines (without the newline); by default they go to
        // standard output.
        std::function<void(const std::string& line)> log;
        // The owner walks the roots itself and places the first pass's
        // watches as it goes (watchDirectory before it lists each folder,
        // then firstWatchesPlaced), so the tree is not walked twice.
        bool ownerPlacesFirstWatches = false;
    };
    using Callback = std::function<void(std::vector<InotifyEvent> batch)>;

    InotifyTree(Options options, Callback callback);
    ~InotifyTree();  // stops
    InotifyTree(const InotifyTree&) = delete;
    InotifyTree& operator=(const InotifyTree&) = delete;

    // Starts the thread; false (with a log line) when inotify is unavailable.
    // Calling it on a running tree does nothing and returns true.
    [[nodiscard]] bool start();
    void stop();

    // True once the first pass placed its watches (or gave up on them).
    bool waitUntilReady(std::chrono::milliseconds timeout);

    // With ownerPlacesFirstWatches, from the owner's walk (one thread): the
    // watch of `dir` is in place when this returns, so a listing read after
    // it misses nothing. `watched` for the folders below it to be watched
    // too; `unwatched` when the watch limit was reached (the subtree is
    // rescanned periodically, as for the tree's own pass); `failed` when it
    // cannot be watched (gone, unreadable; a root is then retried as missing).
    enum class WatchResult : uint8_t { watched, unwatched, failed };
    WatchResult watchDirectory(const std::string& dir);
    // Ends the owner's first pass: waitUntilReady returns true once the tree
    // has taken over the watches.
    void firstWatchesPlaced();

    // Test seam: handled on the tree's thread exactly as a kernel queue
    // overflow would be.
    void simulateOverflow();

    size_t watchCount() const { return watchCount_.load(); }
    // Events seen but not yet handed to the callback: waiting in the kernel
    // queue, being read, or gathered for coalescing (0 when stopped). A
    // batch counts until the callback has returned.
    size_t pendingEventCount() const;
    // Directories (subtree tops) currently left without a watch.
    size_t unwatchedCount() const { return unwatchedCount_.load(); }

    // True for directories on proc, sysfs, cgroup and other file systems
    // that hold no user files.
    static bool isPseudoFileSystem(const std::string& directory);

private:
    struct State;
    // A watch the owner placed, waiting for the tree's thread to take it
    // over (in order: events for its wd are handled only after it).
    struct Placed {
        enum class Kind : uint8_t { watched, limit, missingRoot };
        Kind kind = Kind::watched;
        int wd = -1;
        std::string dir;
    };
    void run();
    // What the tree's thread must act on at once (rescans, a root's retries),
    // from the owner's walk; `result` is handed back.
    WatchResult handOver(Placed::Kind kind, const std::string& dir, WatchResult result)
        ABSL_EXCLUSIVE_LOCKS_REQUIRED(placedMutex_);
    void wake();
    void announceReady();

    Options options_;
    Callback callback_;
    std::unique_ptr<State> state_;
    UniqueFd inotifyFd_;
    UniqueFd wakeFd_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> overflowRequested_{false};
    std::atomic<bool> reading_{false};
    std::atomic<size_t> bufferedCount_{0};
    std::atomic<size_t> watchCount_{0};
    std::atomic<size_t> unwatchedCount_{0};
    Mutex readyMutex_;
    std::condition_variable readyChanged_;
    bool ready_ ABSL_GUARDED_BY(readyMutex_) = false;
    // The owner's first pass; the tree's thread takes the placed watches
    // over under the mutex, and the owner places each one under it, so an
    // event read after a watch exists finds it taken over.
    Mutex placedMutex_;
    std::vector<Placed> placed_ ABSL_GUARDED_BY(placedMutex_);
    bool ownerPassDone_ ABSL_GUARDED_BY(placedMutex_) = false;
    std::vector<std::string> sortedRoots_;  // set by start() before the thread; read by it and watchDirectory
    std::jthread thread_;  // last: runs on everything above
};

}  // namespace qm
