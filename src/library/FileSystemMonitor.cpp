#include "library/FileSystemMonitor.h"

#include <string>

#include "core/QuickString.h"
#include "library/DB.h"

namespace qm {

FileSystemMonitor::FileSystemMonitor(std::weak_ptr<DB> db, std::unique_ptr<DirectoryWatcher> watcher)
    : ref_(std::move(watcher)) {
    if (!ref_) return;
    ref_->start(std::string(homeDirectory().utf8()), kLatencySeconds,
                [db = std::move(db)](const std::vector<DirectoryEvent>& events) {
                    if (events.empty()) return;
                    auto strong = db.lock();
                    if (!strong) return;
                    for (const DirectoryEvent& event : events)
                        strong->directoryChanged(QuickString::path(event.path), event.mustScanSubDirs);
                });
}

FileSystemMonitor::~FileSystemMonitor() {
    if (ref_) ref_->stop();
}

}  // namespace qm
