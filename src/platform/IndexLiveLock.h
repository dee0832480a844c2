#pragma once

#include <string>

#include "core/UniqueFd.h"

namespace qm {

// Tells readers of the saved index whether a live index (one following the
// home folder's changes with inotify) keeps it current: such an index holds a
// read lock on a file beside the database for as long as it runs. These are
// open-file-description locks, so testing takes nothing, any number of live
// indexes may hold one, and the kernel drops a lock when its process dies.
class IndexLiveLock {
public:
    IndexLiveLock() = default;
    IndexLiveLock(const IndexLiveLock&) = delete;
    IndexLiveLock& operator=(const IndexLiveLock&) = delete;

    // The lock file of a database: beside it, with ".live" appended.
    static std::string lockPath(const std::string& databasePath);
    // True while some live index holds the lock of this database.
    static bool isHeld(const std::string& databasePath);

    // Takes the lock (creating its file); false when that cannot be done.
    bool acquire(const std::string& databasePath);
    void release();
    bool holds() const { return fd_.valid(); }
    // While holding it: true when another live index holds it too.
    bool heldByOthers() const;

private:
    UniqueFd fd_;  // closing the description drops its lock
};

}  // namespace qm
