#include "core/SerialQueue.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#if defined(__linux__)
#include <pthread.h>
#endif

namespace qm {

namespace {
thread_local const SerialQueue* currentQueue = nullptr;
}  // namespace

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)), thread_([this] { run(); }) {}

SerialQueue::~SerialQueue() {
    {
        MutexLock lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void SerialQueue::async(std::function<void()> task) {
    {
        MutexLock lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void SerialQueue::sync(const std::function<void()>& task) {
    if (isCurrent()) {
        task();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    async([&] {
        task();
        // Notify under the lock: the waiter may return and destroy the
        // condition variable as soon as it sees `done`.
        std::lock_guard lock(doneMutex);
        done = true;
        doneSignal.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
}

bool SerialQueue::isCurrent() const noexcept {
    return std::this_thread::get_id() == thread_.get_id();
}

const SerialQueue* SerialQueue::current() noexcept {
    return currentQueue;
}

namespace detail {
void offQueue(const SerialQueue* queue, const char* file, int line) noexcept {
    const SerialQueue* running = SerialQueue::current();
    // The expected queue may be gone; only the running one is named.
    std::fprintf(stderr, "%s:%d: must run on its serial queue, runs on %s\n", file, line,
                 running ? running->label().c_str() : queue ? "another thread" : "no queue");
    std::abort();
}
}  // namespace detail

void SerialQueue::run() {
#if defined(__linux__)
    // Thread names are limited to 15 bytes; they make debuggers and top readable.
    pthread_setname_np(pthread_self(), label_.substr(0, 15).c_str());
#endif
    currentQueue = this;
    MutexLock lock(mutex_);
    for (;;) {
        while (!stopping_ && tasks_.empty())
            lock.wait(wake_);
        if (tasks_.empty()) return;  // stopping and drained
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        task = nullptr;  // release captures before taking the lock again
        lock.lock();
    }
}

}  // namespace qm
