#include "platform/InotifyDirectoryWatcher.h"

#include <cmath>
#include <unordered_map>

#include "core/MainQueue.h"
#include "core/PathNames.h"

namespace qm {

InotifyDirectoryWatcher::~InotifyDirectoryWatcher() { stop(); }

std::vector<DirectoryEvent> InotifyDirectoryWatcher::changedDirectories(const std::vector<InotifyEvent>& batch) {
    std::vector<DirectoryEvent> out;
    std::unordered_map<std::string, size_t> index;
    auto note = [&](std::string dir, bool recursive) {
        auto [it, isNew] = index.emplace(dir, out.size());
        if (isNew)
            out.push_back({std::move(dir), recursive});
        else if (recursive)
            out[it->second].mustScanSubDirs = true;
    };
    for (const InotifyEvent& e : batch) {
        if (e.kind == InotifyEvent::Kind::rescan) {
            note(e.path, true);
            continue;
        }
        if (e.kind == InotifyEvent::Kind::moved) note(parentOf(e.oldPath), false);
        note(parentOf(e.path), false);
    }
    return out;
}

void InotifyDirectoryWatcher::start(const std::string& root, double latencySeconds, Callback callback) {
    stop();
    delivery_ = std::make_shared<Delivery>();
    delivery_->callback = std::move(callback);
    if (options_.index && options_.index->isWatching()) {
        indexObserver_ = options_.index->addEventObserver(
            [delivery = delivery_, root](const std::vector<InotifyEvent>& batch) {
                std::vector<InotifyEvent> inside;
                for (const InotifyEvent& e : batch)
                    if (isAtOrBelow(e.path, root) || (!e.oldPath.empty() && isAtOrBelow(e.oldPath, root)))
                        inside.push_back(e);
                std::vector<DirectoryEvent> events = changedDirectories(inside);
                if (events.empty()) return;
                mainQueue().post([delivery, events = std::move(events)] {
                    if (delivery->isRunning && delivery->callback) delivery->callback(events);
                });
            });
        return;
    }
    InotifyTree::Options options;
    options.roots = {root};
    options.excludedPaths = options_.excludedPaths;
    options.maxWatches = options_.maxWatches;
    options.unwatchedRescanInterval = options_.unwatchedRescanInterval;
    options.log = options_.log;
    // The tree's own coalescing is the watcher's latency: one batch per interval.
    options.coalesce = std::chrono::milliseconds(
        static_cast<long long>(std::lround(std::max(0.0, latencySeconds) * 1000.0)));
    tree_ = std::make_unique<InotifyTree>(
        std::move(options), [delivery = delivery_](std::vector<InotifyEvent> batch) {
            std::vector<DirectoryEvent> events = changedDirectories(batch);
            if (events.empty()) return;
            mainQueue().post([delivery, events = std::move(events)] {
                // A batch already posted when stop() ran is dropped here.
                if (delivery->isRunning && delivery->callback) delivery->callback(events);
            });
        });
    if (!tree_->start()) tree_.reset();  // the tree logged why; nothing is watched
}

void InotifyDirectoryWatcher::stop() {
    if (indexObserver_) {
        options_.index->removeEventObserver(indexObserver_);
        indexObserver_ = 0;
    }
    if (delivery_) {
        delivery_->isRunning = false;
        delivery_->callback = nullptr;
        delivery_.reset();
    }
    tree_.reset();
}

}  // namespace qm
