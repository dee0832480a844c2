#include "tilegrid/TilePool.h"

namespace qm {

TilePool::TilePool() {
    bound_.removed = [this](TileId id) { recycle(id); };
}

TilePool::Binding TilePool::bind(const QuickString& path, size_t capacity) {
    if (TileId* id = bound_.get(path)) {
        auto it = waitingIndex_.find(path);
        if (it != waitingIndex_.end()) waiting_.splice(waiting_.begin(), waiting_, it->second);
        return {*id, false};
    }
    // When the bound set is full and nothing is free, evict first and reuse
    // the evicted tile, so that no more tiles exist than may be bound.
    const bool evictFirst = free_.empty() && bound_.size() >= capacity && !bound_.empty();
    if (evictFirst) bound_.set(path, kUnassigned, capacity);
    TileId id;
    if (!free_.empty()) {
        id = free_.back();
        free_.pop_back();
    } else {
        id = TileId(tiles_.size());
        tiles_.emplace_back();
    }
    Tile& t = tiles_[id];
    t.path = path;
    t.duration.reset();
    t.hasGPano = false;
    t.hasContents = false;
    t.isPlaced = false;
    if (evictFirst) *bound_.get(path) = id;
    else bound_.set(path, id, capacity);  // may evict; this tile is already taken
    return {id, true};
}

std::optional<TileId> TilePool::find(const QuickString& path) const {
    if (const TileId* id = bound_.peek(path)) return *id;
    return std::nullopt;
}

void TilePool::markWaiting(const QuickString& path, TileId id) {
    removeWaiting(path);
    waiting_.emplace_front(path, id);
    waitingIndex_.emplace(path, waiting_.begin());
}

std::optional<TileId> TilePool::takeNextWaiting() {
    if (waiting_.empty()) return std::nullopt;
    auto [path, id] = waiting_.front();
    removeWaiting(path);
    return id;
}

void TilePool::removeWaiting(const QuickString& path) {
    auto it = waitingIndex_.find(path);
    if (it == waitingIndex_.end()) return;
    waiting_.erase(it->second);
    waitingIndex_.erase(it);
}

void TilePool::recycle(TileId id) {
    Tile& t = tiles_[id];
    removeWaiting(t.path);
    if (recycled) recycled(id, t);
    t.path = emptyString();
    t.duration.reset();
    t.hasGPano = false;
    t.hasContents = false;
    t.isPlaced = false;
    free_.push_back(id);
}

}  // namespace qm
