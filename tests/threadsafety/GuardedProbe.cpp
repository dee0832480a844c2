// Compiles under the thread-safety check: the same write with the mutex held,
// also across an unlock and a wait.
#include <chrono>
#include <condition_variable>

#include "core/Mutex.h"

namespace {
struct Counter {
    qm::Mutex mutex;
    std::condition_variable changed;
    int value ABSL_GUARDED_BY(mutex) = 0;
    void bump() {
        qm::MutexLock lock(mutex);
        ++value;
        lock.unlock();
        lock.lock();
        while (value < 1)
            lock.wait(changed);
        lock.waitUntil(changed, std::chrono::steady_clock::now());
        ++value;
    }
    void bumpLocked() ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex) { ++value; }
    void bumpTwice() {
        qm::MutexLock lock(mutex);
        bumpLocked();
        bumpLocked();
    }
};
}  // namespace

void probe() {
    Counter c;
    c.bump();
    c.bumpTwice();
}
