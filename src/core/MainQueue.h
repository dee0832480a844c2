#pragma once

#include <absl/base/thread_annotations.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "core/Mutex.h"

namespace qm {

// The main thread's queue: every model change and every view runs here.
// Other threads post work to it; the thread that owns the model runs it, either
// because the application bound the queue to its event loop through the waker,
// or because a test pumps it with runPending / runUntil.
class MainQueue {
public:
    using Task = std::function<void()>;
    // Called, on the posting thread and outside any lock, whenever a post makes
    // an empty queue non-empty. The application's waker schedules one
    // runPending() call on its event loop; it must be safe from any thread.
    using Waker = std::function<void()>;

    MainQueue();
    MainQueue(const MainQueue&) = delete;
    MainQueue& operator=(const MainQueue&) = delete;

    // Thread-safe; tasks run in the order posted.
    void post(Task task);

    // Posts fn(owner) to run only if the owner is still alive by then, so
    // that a callback crossing queues never keeps its owner alive.
    template <typename T, typename F>
    void postWeak(std::weak_ptr<T> owner, F fn) {
        post([owner = std::move(owner), fn = std::move(fn)]() mutable {
            if (auto strong = owner.lock()) fn(*strong);
        });
    }

    // Replaces the waker (an empty one removes it). When tasks are already
    // waiting, the new waker is called once at once.
    void setWaker(Waker waker);

    // Runs the tasks queued at the time of the call, in order; tasks they post
    // wait for the next turn, so a task that re-posts itself cannot starve the
    // event loop. Returns the number of tasks run. Call on the main thread.
    size_t runPending();

    // Pumps the queue until the predicate holds or the timeout passes,
    // sleeping while nothing is queued. The predicate is checked before the
    // first wait and after every turn. Returns the predicate's last value.
    bool runUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout);

    // Tasks waiting to run.
    size_t pendingCount() const;

    // True on the thread that created this queue (for mainQueue(): the thread
    // that first asked for it, which is the main thread of the program).
    bool isMainThread() const noexcept { return std::this_thread::get_id() == owner_; }

private:
    mutable Mutex mutex_;
    std::condition_variable posted_;
    std::vector<Task> tasks_ ABSL_GUARDED_BY(mutex_);
    std::shared_ptr<const Waker> waker_ ABSL_GUARDED_BY(mutex_);
    const std::thread::id owner_;
};

// The process's main queue, made on first use and never destroyed (tasks
// still queued at exit must not run during static destruction).
MainQueue& mainQueue();

}  // namespace qm
