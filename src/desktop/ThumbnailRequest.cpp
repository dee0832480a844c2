#include "desktop/ThumbnailRequest.h"

namespace qm {

void ThumbnailRequestState::deliver(const ThumbnailResult& result) {
    std::lock_guard lock(mutex_);
    if (!callback_ || isCancelled()) return;
    ThumbnailCallback callback = std::move(callback_);
    callback_ = nullptr;
    callback(result);
}

bool ThumbnailRequestState::cancel() {
    cancelled_.store(true, std::memory_order_release);
    std::lock_guard lock(mutex_);
    bool pending = static_cast<bool>(callback_);
    callback_ = nullptr;  // releases what it captured now, not when the work ends
    return pending;
}

}  // namespace qm
