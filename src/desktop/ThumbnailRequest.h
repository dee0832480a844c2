#pragma once

#include <QImage>

#include <absl/base/thread_annotations.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace qm {

struct ThumbnailResult {
    enum class Origin { cache, decoded, icon };
    QImage image;  // never null: on failure the file type's icon
    Origin origin = Origin::icon;
};

using ThumbnailCallback = std::function<void(const ThumbnailResult&)>;

// Shared between a request's handle and the work done for it.
class ThumbnailRequestState {
public:
    explicit ThumbnailRequestState(ThumbnailCallback callback) : callback_(std::move(callback)) {}

    // Calls the callback unless cancelled or already delivered; at most once.
    void deliver(const ThumbnailResult& result);
    bool cancel();
    bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }

private:
    // Held while the callback runs, so that cancel() returns only once delivery has
    // either finished or become impossible. Recursive: the callback may cancel.
    std::recursive_mutex mutex_;
    ThumbnailCallback callback_ ABSL_GUARDED_BY(mutex_);
    std::atomic<bool> cancelled_{false};
};

// Handle of one asynchronous thumbnail request. Copies refer to the same request;
// dropping the handle does not cancel it.
class ThumbnailRequest {
public:
    ThumbnailRequest() = default;
    explicit ThumbnailRequest(std::shared_ptr<ThumbnailRequestState> state) : state_(std::move(state)) {}

    // After this returns, the callback is never called (it may already have run, or
    // be finishing on another thread while cancel() waits). True when cancel() is
    // what prevented it. Any thread; do not hold a lock the callback takes.
    bool cancel() { return state_ && state_->cancel(); }
    bool isValid() const { return state_ != nullptr; }

private:
    std::shared_ptr<ThumbnailRequestState> state_;
};

}  // namespace qm
