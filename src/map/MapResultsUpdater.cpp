#include "map/MapResultsUpdater.h"

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "geo/MultiGrid.h"

namespace qm {

std::shared_ptr<MapResultsUpdater> MapResultsUpdater::create(Hooks hooks, Query query) {
    return std::shared_ptr<MapResultsUpdater>(new MapResultsUpdater(std::move(hooks), std::move(query)));
}

MapResultsUpdater::MapResultsUpdater(Hooks hooks, Query query)
    : hooks_(std::move(hooks)), query_(std::move(query)), queue_(std::make_unique<SerialQueue>("mapResults")) {
    if (!query_)
        query_ = [](const MultiGrid& grid, const MapCircle& c) {
            return grid.pathsInCircle(c.centerLongitude, c.centerLatitude, c.radiusLongitude);
        };
}

// The queue finishes its running query before the updater goes; its answer
// then finds no updater and is dropped.
MapResultsUpdater::~MapResultsUpdater() = default;

void MapResultsUpdater::request(bool dueToUser) {
    needAnotherUpdate_ = true;
    if (dueToUser) nextUpdateIsDueToUser_ = true;
    step();
}

void MapResultsUpdater::step() {
    if (!needAnotherUpdate_ || isUpdatingInBackground_) return;
    bool dueToUser = nextUpdateIsDueToUser_;
    needAnotherUpdate_ = false;
    nextUpdateIsDueToUser_ = false;

    std::optional<MapCircle> circle = hooks_.circle ? hooks_.circle() : std::nullopt;
    if (!circle) {
        if (hooks_.apply) hooks_.apply(std::nullopt, dueToUser);
        return;
    }
    std::shared_ptr<const MultiGrid> grid = hooks_.grid ? hooks_.grid() : nullptr;
    if (!grid) grid = std::make_shared<const MultiGrid>();
    isUpdatingInBackground_ = true;
    std::weak_ptr<MapResultsUpdater> weak = weak_from_this();
    queue_->async([weak, grid, circle = *circle, dueToUser, query = query_] {
        std::vector<QuickString> paths = query(*grid, circle);
        mainQueue().postWeak(weak, [paths = std::move(paths), dueToUser](MapResultsUpdater& self) mutable {
            self.finished(std::move(paths), dueToUser);
        });
    });
}

void MapResultsUpdater::finished(std::vector<QuickString> paths, bool dueToUser) {
    // Flags first: apply may request another update, which must queue behind.
    isUpdatingInBackground_ = false;
    if (hooks_.apply) hooks_.apply(std::move(paths), dueToUser);
    step();
}

}  // namespace qm
