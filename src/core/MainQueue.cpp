#include "core/MainQueue.h"

namespace qm {

MainQueue::MainQueue() : owner_(std::this_thread::get_id()) {}

void MainQueue::post(Task task) {
    std::shared_ptr<const Waker> waker;
    {
        MutexLock lock(mutex_);
        const bool wasEmpty = tasks_.empty();
        tasks_.push_back(std::move(task));
        if (wasEmpty) waker = waker_;
    }
    posted_.notify_all();
    if (waker && *waker) (*waker)();
}

void MainQueue::setWaker(Waker waker) {
    std::shared_ptr<const Waker> toCall;
    {
        MutexLock lock(mutex_);
        waker_ = waker ? std::make_shared<const Waker>(std::move(waker)) : nullptr;
        if (!tasks_.empty()) toCall = waker_;
    }
    if (toCall) (*toCall)();
}

size_t MainQueue::runPending() {
    std::vector<Task> batch;
    {
        MutexLock lock(mutex_);
        batch.swap(tasks_);
    }
    for (Task& task : batch) {
        task();
        task = nullptr;  // release what it captured before the next one runs
    }
    return batch.size();
}

bool MainQueue::runUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (predicate()) return true;
        {
            MutexLock lock(mutex_);
            bool timedOut = false;
            while (tasks_.empty() && !timedOut)
                timedOut = !lock.waitUntil(posted_, deadline);
            if (tasks_.empty()) break;
        }
        runPending();
    }
    return predicate();
}

size_t MainQueue::pendingCount() const {
    MutexLock lock(mutex_);
    return tasks_.size();
}

MainQueue& mainQueue() {
    static MainQueue* const queue = new MainQueue();
    return *queue;
}

}  // namespace qm
