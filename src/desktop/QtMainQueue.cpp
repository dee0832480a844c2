#include "desktop/QtMainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <absl/base/thread_annotations.h>

#include "core/MainQueue.h"
#include "core/Mutex.h"

namespace qm {

// Shared with the waker, which may run on any thread and even while the
// binding goes away: the receiver is cleared under the lock before it dies.
struct QtMainQueue::Binding {
    Mutex mutex;
    QObject* receiver ABSL_GUARDED_BY(mutex) = nullptr;  // lives on the main thread
    std::chrono::nanoseconds longest{0};
    size_t turns = 0;
    size_t longestTasks = 0;

    void turn() {
        const auto began = std::chrono::steady_clock::now();
        const size_t tasks = mainQueue().runPending();
        const auto took = std::chrono::steady_clock::now() - began;
        if (took > longest) {
            longest = std::chrono::duration_cast<std::chrono::nanoseconds>(took);
            longestTasks = tasks;
        }
        ++turns;
    }
};

QtMainQueue::QtMainQueue() : binding_(std::make_shared<Binding>()) {
    {
        MutexLock lock(binding_->mutex);
        binding_->receiver = new QObject();
    }
    std::weak_ptr<Binding> weak = binding_;
    mainQueue().setWaker([weak] {
        auto binding = weak.lock();
        if (!binding) return;
        MutexLock lock(binding->mutex);
        if (!binding->receiver) return;
        // Queued: runs on the receiver's (main) thread at the next event loop turn.
        QMetaObject::invokeMethod(
            binding->receiver,
            [weak] {
                if (auto b = weak.lock()) b->turn();
            },
            Qt::QueuedConnection);
    });
}

QtMainQueue::~QtMainQueue() {
    mainQueue().setWaker({});
    QObject* receiver = nullptr;
    {
        MutexLock lock(binding_->mutex);
        std::swap(receiver, binding_->receiver);
    }
    delete receiver;  // drops the calls still queued for it
}

std::chrono::nanoseconds QtMainQueue::longestTurn() const {
    return binding_->longest;
}

size_t QtMainQueue::longestTurnTasks() const {
    return binding_->longestTasks;
}

size_t QtMainQueue::turnCount() const {
    return binding_->turns;
}

void QtMainQueue::resetTurnStatistics() {
    binding_->longest = std::chrono::nanoseconds(0);
    binding_->turns = 0;
    binding_->longestTasks = 0;
}

}  // namespace qm
