#pragma once

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "core/QuickString.h"
#include "geo/MultiGrid.h"
#include "core/PathMetadata.h"

namespace qm {

class SerialQueue;

// The map node's location map (same type as Node::Paths) and a set of paths.
using LocationMap = absl::flat_hash_map<QuickString, PathMetadata>;
using PathSet = absl::flat_hash_set<QuickString>;

// Keeps the published GPS grid for the main thread and applies location
// changes to a working copy on the serial queue "AsyncMultiGrid". Each update
// that changes the grid publishes an immutable snapshot to the main queue and
// then calls afterChange there.
class AsyncMultiGrid {
public:
    explicit AsyncMultiGrid(std::function<void()> afterChange);
    // Pending updates that have not started are skipped; a running one finishes.
    ~AsyncMultiGrid();
    AsyncMultiGrid(const AsyncMultiGrid&) = delete;
    AsyncMultiGrid& operator=(const AsyncMultiGrid&) = delete;

    // Main queue. With `changed`, only those paths are compared (and `locations`
    // needs to hold only their entries); without it, the whole map is compared.
    // Positions with NaN or infinite coordinates count as absent.
    void update(LocationMap locations, std::optional<PathSet> changed);

    // The published grid (main queue). Never null; the snapshot may be handed to
    // and read on any thread: it never changes.
    const std::shared_ptr<const MultiGrid>& latestGrid() const noexcept { return state_->latestGrid; }

    // Blocks until every update queued so far has been applied (tests, benchmarks).
    void waitUntilIdle();

private:
    struct MainState {
        std::shared_ptr<const MultiGrid> latestGrid;
        std::function<void()> afterChange;
    };
    struct Worker;

    std::shared_ptr<MainState> state_;
    std::unique_ptr<Worker> worker_;
    std::shared_ptr<std::atomic<bool>> stopping_;
    std::unique_ptr<SerialQueue> queue_;  // last: joined first on destruction
};

}  // namespace qm
