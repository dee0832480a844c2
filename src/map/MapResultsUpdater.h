#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/QuickString.h"
#include "map/MapCircle.h"

namespace qm {

class MultiGrid;
class SerialQueue;

// The map's results update: one circle query at a time on the serial queue
// "mapResults", requests made while one runs coalesced into exactly one more
// run with the circle of that moment. Idle → requested → running → idle.
// Main thread only, apart from the query itself.
class MapResultsUpdater : public std::enable_shared_from_this<MapResultsUpdater> {
public:
    using Results = std::optional<std::vector<QuickString>>;
    using Query = std::function<std::vector<QuickString>(const MultiGrid&, const MapCircle&)>;

    struct Hooks {
        // The placed circle now (none: the results become absent).
        std::function<std::optional<MapCircle>()> circle;
        // The published grid now.
        std::function<std::shared_ptr<const MultiGrid>()> grid;
        // Delivers the results on the main queue.
        std::function<void(Results results, bool dueToUser)> apply;
    };

    // `query` defaults to the grid's pathsInCircle.
    static std::shared_ptr<MapResultsUpdater> create(Hooks hooks, Query query = nullptr);
    ~MapResultsUpdater();

    // Asks for an update; dueToUser marks it as following a user action (kept
    // until the next update starts).
    void request(bool dueToUser);
    void setNextUpdateIsDueToUser() { nextUpdateIsDueToUser_ = true; }

    bool needsAnotherUpdate() const { return needAnotherUpdate_; }
    bool isUpdatingInBackground() const { return isUpdatingInBackground_; }
    bool nextUpdateIsDueToUser() const { return nextUpdateIsDueToUser_; }

private:
    MapResultsUpdater(Hooks hooks, Query query);
    void step();
    void finished(std::vector<QuickString> paths, bool dueToUser);

    Hooks hooks_;
    Query query_;
    bool needAnotherUpdate_ = false;
    bool isUpdatingInBackground_ = false;
    bool nextUpdateIsDueToUser_ = false;
    std::unique_ptr<SerialQueue> queue_;
};

}  // namespace qm
