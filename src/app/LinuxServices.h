#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/AppDelegate.h"

namespace qm {

class FileIndex;

// The services of the real program: the embedded index over the home
// folder (its two queries), the folder watcher riding on the index's inotify
// instance, extended-attribute tags, the Linux file operations and the user
// defaults in the config folder. The index is started; keep it alive as long
// as the delegate.
struct LinuxServices {
    std::shared_ptr<FileIndex> index;
    AppServices services;
    // Problems met on the way (each one log line), e.g. an unreadable settings file.
    std::vector<std::string> warnings;
};

LinuxServices makeLinuxServices();

}  // namespace qm
