#pragma once

#include <chrono>
#include <memory>

namespace qm {

// Binds mainQueue() to Qt's event loop: every post that makes the queue
// non-empty schedules one runPending() on the main thread's event loop through
// a queued call, so posted work runs between events without a polling timer.
// Make one on the main thread after the QCoreApplication; destroying it
// unbinds the queue (work posted afterwards waits for somebody to pump it).
class QtMainQueue {
public:
    QtMainQueue();
    ~QtMainQueue();
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    // The longest runPending() call since the last reset, and how many there
    // were; the main thread must never be held for long by one turn.
    std::chrono::nanoseconds longestTurn() const;
    size_t turnCount() const;
    // How many tasks the longest turn ran.
    size_t longestTurnTasks() const;
    void resetTurnStatistics();

private:
    struct Binding;
    std::shared_ptr<Binding> binding_;
};

}  // namespace qm
