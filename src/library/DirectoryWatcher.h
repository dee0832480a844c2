#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qm {

// One changed directory reported by a watcher.
struct DirectoryEvent {
    std::string path;              // the directory whose entries changed (raw bytes)
    bool mustScanSubDirs = false;  // events were lost or a subtree is not watched: rescan it all
};

// Watches a directory tree for changes of its directories' entries.
//
// After start(), changes below `root` are reported as directory paths,
// coalesced over about `latencySeconds` so that a burst becomes one batch.
// Batches are delivered on the main thread (an implementation working on a
// thread of its own posts to mainQueue()), never from inside start() or
// after stop() has returned. When events were lost (queue overflow, no
// watch left) the affected directory comes with mustScanSubDirs set, so the
// receiver rereads the whole subtree instead of missing changes. Nothing
// throws; a watcher that cannot watch everything degrades to such reports.
class DirectoryWatcher {
public:
    using Callback = std::function<void(const std::vector<DirectoryEvent>& events)>;

    virtual ~DirectoryWatcher() = default;
    virtual void start(const std::string& root, double latencySeconds, Callback callback) = 0;
    virtual void stop() = 0;
};

}  // namespace qm
