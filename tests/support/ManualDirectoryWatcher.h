#pragma once

#include <string>
#include <vector>

#include "library/DirectoryWatcher.h"

namespace qm {

// A watcher that reports only what a test tells it to (main thread only).
class ManualDirectoryWatcher final : public DirectoryWatcher {
public:
    void start(const std::string& root, double latencySeconds, Callback callback) override {
        root_ = root;
        latency_ = latencySeconds;
        callback_ = std::move(callback);
        running_ = true;
    }
    void stop() override {
        running_ = false;
        callback_ = nullptr;
    }

    bool isRunning() const { return running_; }
    const std::string& root() const { return root_; }
    double latency() const { return latency_; }

    // Delivers a batch as the coalesced report of a real watcher would.
    void fire(const std::vector<DirectoryEvent>& events) {
        if (running_ && callback_) callback_(events);
    }

private:
    std::string root_;
    double latency_ = 0;
    Callback callback_;
    bool running_ = false;
};

}  // namespace qm
