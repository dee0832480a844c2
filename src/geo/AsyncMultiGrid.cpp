#include "geo/AsyncMultiGrid.h"

#include <chrono>
#include <cmath>
#include <utility>

#include "core/Log.h"
#include "core/MainQueue.h"
#include "core/SerialQueue.h"

namespace qm {

namespace {
// A position the grid can hold; NaN and infinite coordinates count as absent.
std::optional<GPS> usable(const PathMetadata& m) {
    if (!m.gps || !std::isfinite(m.gps->longitude) || !std::isfinite(m.gps->latitude)) return std::nullopt;
    return m.gps;
}
}  // namespace

// Confined to the queue: the newest grid built there and the positions it holds.
struct AsyncMultiGrid::Worker {
    MultiGrid grid;
    absl::flat_hash_map<QuickString, GPS> previous;  // exactly the grid's content
};

AsyncMultiGrid::AsyncMultiGrid(std::function<void()> afterChange)
    : state_(std::make_shared<MainState>(
          MainState{std::make_shared<const MultiGrid>(), std::move(afterChange)})),
      worker_(std::make_unique<Worker>()),
      stopping_(std::make_shared<std::atomic<bool>>(false)),
      queue_(std::make_unique<SerialQueue>("AsyncMultiGrid")) {}

AsyncMultiGrid::~AsyncMultiGrid() {
    stopping_->store(true);
    queue_.reset();  // joins; the worker outlives every task
}

void AsyncMultiGrid::waitUntilIdle() {
    queue_->sync([] {});
}

void AsyncMultiGrid::update(LocationMap locations, std::optional<PathSet> changed) {
    std::weak_ptr<MainState> weakState = state_;
    Worker* worker = worker_.get();
    auto stopping = stopping_;
    queue_->async([worker, weakState, stopping, locations = std::move(locations),
                   changed = std::move(changed)]() mutable {
        if (stopping->load()) return;
        Worker& w = *worker;
        size_t edits = 0;
        auto move = [&](const QuickString& path, std::optional<GPS> now) {
            auto it = w.previous.find(path);
            std::optional<GPS> before;
            if (it != w.previous.end()) before = it->second;
            if (before == now) return;
            if (before) {
                edits += w.grid.remove(path, before->longitude, before->latitude);
                w.previous.erase(it);
            }
            if (now) {
                edits += w.grid.insert(path, now->longitude, now->latitude);
                w.previous.emplace(path, *now);
            }
        };
        if (changed) {
            // Only the named paths are compared, and only they are recorded, so
            // the recorded positions always match what the grid holds.
            for (const QuickString& path : *changed) {
                auto it = locations.find(path);
                move(path, it == locations.end() ? std::nullopt : usable(it->second));
            }
        } else {
            const auto start = std::chrono::steady_clock::now();
            const bool firstBuild = w.grid.empty();
            std::vector<QuickString> gone;
            for (const auto& [path, gps] : w.previous) {
                auto it = locations.find(path);
                if (it == locations.end() || usable(it->second) != gps) gone.push_back(path);
            }
            for (const QuickString& path : gone) {
                auto it = locations.find(path);
                move(path, it == locations.end() ? std::nullopt : usable(it->second));
            }
            if (firstBuild) {
                // Building in one pass is several times faster than inserting
                // point by point, and lays the cells out for the queries.
                std::vector<MultiGrid::Cell::Element> points;
                points.reserve(locations.size());
                w.previous.reserve(locations.size());
                for (const auto& [path, meta] : locations) {
                    if (auto now = usable(meta)) {
                        points.push_back(MultiGrid::Cell::Element{path, *now});
                        w.previous.emplace(path, *now);
                    }
                }
                edits = points.size();
                w.grid = MultiGrid::build(std::move(points));
            } else {
                for (const auto& [path, meta] : locations)
                    if (auto now = usable(meta)) move(path, now);
            }
            if (firstBuild && edits > 0) {
                const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
                logFormat(LogArea::setup, "GPS acceleration: %.3f seconds", elapsed.count());
            }
        }
        if (edits == 0) return;
        auto snapshot = std::make_shared<const MultiGrid>(w.grid);  // shares every cell
        mainQueue().post([weakState, snapshot = std::move(snapshot)]() mutable {
            auto state = weakState.lock();
            if (!state) return;
            state->latestGrid = std::move(snapshot);
            if (state->afterChange) state->afterChange();
        });
    });
}

}  // namespace qm
