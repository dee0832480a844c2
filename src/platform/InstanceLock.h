#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qm {

// Keeps a second program from running over the same files: an exclusive lock
// on a file beside each of them (the window state, the index database) for as
// long as the program runs. Open-file-description locks, so the kernel drops
// them when the process dies and a stale file locks nothing.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // The lock file of a guarded file: beside it, with ".lock" appended.
    static std::string lockPath(const std::string& guardedPath);

    // Takes the locks of every guarded file (creating the lock files and their
    // folders), or none of them: on failure, the lock file another holder
    // has. A lock file that cannot be made is skipped: its folder is one where
    // the guarded file cannot be written either. Empty paths are skipped.
    // A lock held by another is tried again until `patience` has passed: a
    // program that is quitting lets go soon.
    [[nodiscard]] std::optional<std::string> acquire(const std::vector<std::string>& guardedPaths,
                                                     std::chrono::milliseconds patience = {});
    void release();
    bool holds() const { return !fds_.empty(); }

private:
    std::optional<std::string> tryAcquire(const std::vector<std::string>& guardedPaths);

    std::vector<int> fds_;
};

}  // namespace qm
