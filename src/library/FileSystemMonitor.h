#pragma once

#include <memory>

#include "library/DirectoryWatcher.h"

namespace qm {

class DB;

// Follows the home directory with a watcher and turns each reported
// directory into DB::directoryChanged (recursive when the watcher lost
// track of the subtree). Main thread only; owned by the database.
class FileSystemMonitor {
public:
    // Changes are coalesced over this many seconds.
    static constexpr double kLatencySeconds = 1.0;

    // Starts watching at once; a null watcher watches nothing.
    FileSystemMonitor(std::weak_ptr<DB> db, std::unique_ptr<DirectoryWatcher> watcher);
    ~FileSystemMonitor();
    FileSystemMonitor(const FileSystemMonitor&) = delete;
    FileSystemMonitor& operator=(const FileSystemMonitor&) = delete;

private:
    std::unique_ptr<DirectoryWatcher> ref_;
};

}  // namespace qm
