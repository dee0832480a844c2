#pragma once

#include <memory>
#include <string>
#include <vector>

#include "library/DirectoryWatcher.h"
#include "platform/FileIndex.h"
#include "platform/InotifyTree.h"

namespace qm {

// The directory watcher on inotify: every change below the root becomes the
// directory whose entries changed (the parent of the changed entry), posted
// to mainQueue() once per coalescing interval. Lost events (queue overflow,
// subtrees left unwatched at the watch limit) come with mustScanSubDirs.
class InotifyDirectoryWatcher final : public DirectoryWatcher {
public:
    // Test seams and tuning, passed on to the tree.
    struct Options {
        std::vector<std::string> excludedPaths;
        size_t maxWatches = 0;
        std::chrono::milliseconds unwatchedRescanInterval{std::chrono::seconds(60)};
        std::function<void(const std::string& line)> log;
        // When set and watching, the watcher follows this index's inotify
        // batches instead of placing watches of its own (the index watches
        // the same home tree); its coalescing interval then applies.
        std::shared_ptr<FileIndex> index;
    };

    InotifyDirectoryWatcher() = default;
    explicit InotifyDirectoryWatcher(Options options) : options_(std::move(options)) {}
    ~InotifyDirectoryWatcher() override;

    void start(const std::string& root, double latencySeconds, Callback callback) override;
    void stop() override;

    // The running tree, for tests (null when stopped or following an index).
    InotifyTree* tree() { return tree_.get(); }

    // The changed directories of a batch, in order of first mention, each
    // once; a rescan wins over a plain change of the same directory.
    static std::vector<DirectoryEvent> changedDirectories(const std::vector<InotifyEvent>& batch);

private:
    struct Delivery {
        bool isRunning = true;  // main thread only
        Callback callback;
    };

    Options options_;
    std::unique_ptr<InotifyTree> tree_;
    std::shared_ptr<Delivery> delivery_;
    uint64_t indexObserver_ = 0;  // 0: none
};

}  // namespace qm
