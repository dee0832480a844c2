#pragma once

#include <absl/base/thread_annotations.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <string>
#include <thread>

#include "core/Mutex.h"

namespace qm {

// A queue of tasks run one at a time, in the order they were added, on a
// thread of its own. Work handed to it must own (copy) what it touches; its
// results go back to the main thread through mainQueue().post.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    // Runs every task still queued (including tasks those tasks add), then
    // joins the thread. Must not be called from the queue's own thread.
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Adds a task; callable from any thread, including the queue's own.
    void async(std::function<void()> task);

    // Runs the task on the queue after everything queued before it and waits
    // for it. Called from the queue's own thread the task runs at once (waiting
    // would never end). Meant for tests and shutdown, not for the main thread
    // in normal operation.
    void sync(const std::function<void()>& task);

    const std::string& label() const noexcept { return label_; }

    // True on the queue's own thread.
    bool isCurrent() const noexcept;
    // The queue whose task is running on this thread; null elsewhere.
    static const SerialQueue* current() noexcept;

private:
    void run();

    const std::string label_;
    Mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_ ABSL_GUARDED_BY(mutex_);
    bool stopping_ ABSL_GUARDED_BY(mutex_) = false;
    std::jthread thread_;  // last: starts once everything above exists
};

namespace detail {
[[noreturn]] void offQueue(const SerialQueue* queue, const char* file, int line) noexcept;
}  // namespace detail

}  // namespace qm

// State confined to a serial queue is touched only by its tasks: debug builds
// stop with the file and line when `queue` (a SerialQueue pointer, which is
// never dereferenced) is not the one running the caller. Release builds check
// nothing.
#ifdef NDEBUG
#define QM_ASSERT_ON_QUEUE(queue) static_cast<void>(0)
#else
#define QM_ASSERT_ON_QUEUE(queue)                                                        \
    do {                                                                                 \
        const ::qm::SerialQueue* qmExpectedQueue = (queue);                              \
        if (::qm::SerialQueue::current() != qmExpectedQueue || !qmExpectedQueue)         \
            ::qm::detail::offQueue(qmExpectedQueue, __FILE__, __LINE__);                 \
    } while (false)
#endif
