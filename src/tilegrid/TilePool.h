#pragma once

#include <absl/container/flat_hash_map.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <vector>

#include "core/LRU.h"
#include "core/QuickString.h"

namespace qm {

using TileId = uint32_t;

// What the grid remembers about one reusable tile, apart from its pixels
// (which the view keeps beside it, by the same id).
struct Tile {
    QuickString path;                 // empty while free
    std::optional<double> duration;   // seconds, from the file's metadata
    bool hasGPano = false;
    bool hasContents = false;         // a thumbnail (or icon) was applied
    bool isPlaced = false;            // drawn by the last update pass
    size_t index = 0;                 // the cell it was placed in
};

// The bookkeeping behind tile reuse: tiles bound to paths (an LRU bounded
// per pass), the bound tiles still waiting for a thumbnail (most recently
// used first) and the free pool (last in, first out). A tile is free, bound
// and waiting, or bound and shown; eviction frees it from either bound
// state. Tiles are never destroyed, so their number is the most ever bound.
class TilePool {
public:
    TilePool();
    TilePool(const TilePool&) = delete;
    TilePool& operator=(const TilePool&) = delete;

    // Called for each tile evicted from the bound set, after it left the
    // waiting list and before it is cleared and freed: the view cancels its
    // request and drops its pixels.
    std::function<void(TileId, Tile&)> recycled;

    struct Binding {
        TileId id;
        bool isNew;  // freshly bound to the path: needs contents
    };
    // The tile bound to the path (made most recently used, also among the
    // waiting), or a free or new one bound to it; binding may evict the least
    // recently used tile when `capacity` are bound.
    Binding bind(const QuickString& path, size_t capacity);
    // The bound tile of a path without touching any order.
    std::optional<TileId> find(const QuickString& path) const;

    // Waiting for a thumbnail; most recently marked or bound first.
    void markWaiting(const QuickString& path, TileId id);
    bool isWaiting(const QuickString& path) const { return waitingIndex_.contains(path); }
    // Removes and answers the most recently used waiting tile.
    std::optional<TileId> takeNextWaiting();

    Tile& tile(TileId id) { return tiles_[id]; }
    const Tile& tile(TileId id) const { return tiles_[id]; }
    // Every tile ever made (bound or free).
    size_t tileCount() const { return tiles_.size(); }
    size_t boundCount() const { return bound_.size(); }
    size_t freeCount() const { return free_.size(); }
    size_t waitingCount() const { return waiting_.size(); }

    template <typename F>
    void forEachBound(F&& f) {
        bound_.forEach([&](const QuickString&, const TileId& id) { f(id, tiles_[id]); });
    }

private:
    static constexpr TileId kUnassigned = ~TileId(0);
    void recycle(TileId id);
    void removeWaiting(const QuickString& path);

    std::vector<Tile> tiles_;
    LRU<QuickString, TileId> bound_;
    std::list<std::pair<QuickString, TileId>> waiting_;  // front: most recently used
    absl::flat_hash_map<QuickString, std::list<std::pair<QuickString, TileId>>::iterator> waitingIndex_;
    std::vector<TileId> free_;
};

}  // namespace qm
