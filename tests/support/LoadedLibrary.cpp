#include "support/LoadedLibrary.h"

#include <chrono>

#include "core/MainQueue.h"

namespace qm::test {

std::shared_ptr<DB> loadLibrary(MemoryMetadataIndex& index, std::shared_ptr<UserDefaults> defaults,
                                std::shared_ptr<FolderAccessProbe> probe) {
    if (!defaults) {
        auto fresh = std::make_shared<MemoryUserDefaults>();
        fresh->setValue("hasBeenLaunched", true);
        defaults = std::move(fresh);
    }
    auto db = DB::create({index.tagQuery(), index.gpsQuery(), std::move(defaults), nullptr, std::move(probe)});
    const auto patience = std::chrono::minutes(5);
    mainQueue().runUntil([&] { return index.tagQuery()->isExecuted(); }, patience);
    index.tagQuery()->finish();
    mainQueue().runUntil([&] { return db->loadingState() == LoadingState::loaded; }, patience);
    mainQueue().runUntil([&] { return !db->isUpdatingDirectories(); }, patience);
    return db;
}

}  // namespace qm::test
