#pragma once

#include <absl/base/thread_annotations.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qm {

// std::mutex as a capability that clang's thread-safety analysis knows (the
// standard library's is not annotated), so that fields marked
// ABSL_GUARDED_BY(mutex) are checked where they are touched. A plain
// std::mutex underneath, which ThreadSanitizer sees as such. Held through
// MutexLock.
class ABSL_LOCKABLE Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ABSL_EXCLUSIVE_LOCK_FUNCTION() { mutex_.lock(); }
    void unlock() ABSL_UNLOCK_FUNCTION() { mutex_.unlock(); }

private:
    friend class MutexLock;
    std::mutex mutex_;
};

// Holds a Mutex from construction to destruction, or between unlock() and
// lock(). Waiting on a condition variable releases the mutex meanwhile and
// holds it again on return; the analysis counts it as held throughout, so a
// waiting loop spells its condition out in the loop, where it is checked:
//     while (!ready_) lock.wait(readyChanged_);
class ABSL_SCOPED_LOCKABLE MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ABSL_EXCLUSIVE_LOCK_FUNCTION(mutex) : lock_(mutex.mutex_) {}
    ~MutexLock() ABSL_UNLOCK_FUNCTION() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    void unlock() ABSL_UNLOCK_FUNCTION() { lock_.unlock(); }
    void lock() ABSL_EXCLUSIVE_LOCK_FUNCTION() { lock_.lock(); }

    // Until notified (or woken spuriously).
    void wait(std::condition_variable& cv) { cv.wait(lock_); }
    // Until notified, woken spuriously or the deadline passed; false once it has.
    template <typename Clock, typename Duration>
    bool waitUntil(std::condition_variable& cv, const std::chrono::time_point<Clock, Duration>& deadline) {
        return cv.wait_until(lock_, deadline) == std::cv_status::no_timeout;
    }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace qm
