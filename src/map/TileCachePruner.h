#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "map/TilePolicy.h"

namespace qm {

// Keeps the disk cache of tiles bounded. The cache folder holds one tree per
// tile address (TileDiskCache); the pruning removes
//   - the trees of addresses not used for longer than a tile is kept
//     (a week), whole;
//   - the tiles past their expiry;
//   - then, while the rest is over the size cap, the tiles used longest ago
//     (down to nine tenths of the cap, so that the next few tiles written do
//     not prune again at once);
//   - and the leftovers of writes cut short (older than an hour).
// The plan is plain bookkeeping; prune() reads the folder and carries it
// out, on a background queue.
class TileCachePruner {
public:
    using Clock = TilePolicy::Clock;
    static constexpr int64_t defaultCapBytes = int64_t(256) * 1024 * 1024;

    struct Tree {
        std::string name;
        Clock::time_point lastUse;
    };
    struct Tile {
        std::filesystem::path path;
        size_t tree = 0;  // index into the trees
        int64_t bytes = 0;
        Clock::time_point lastUse;
        Clock::time_point expiry;
    };
    struct Plan {
        std::vector<size_t> trees;  // indexes of the trees removed whole
        std::vector<size_t> tiles;  // indexes of the tiles removed (outside those trees)
        int64_t keptBytes = 0;
    };
    static Plan plan(const std::vector<Tree>& trees, const std::vector<Tile>& tiles,
                     std::string_view currentTree, Clock::time_point now, int64_t capBytes);

    struct Result {
        int removedTrees = 0;
        int removedTiles = 0;
        int64_t keptBytes = 0;
    };
    // `tilesFolder` is $XDG_CACHE_HOME/quillomere/tiles; `currentTree` the
    // folder name of the address in use (kept, whatever its age). Stops early
    // when `cancel` is set.
    static Result prune(const std::filesystem::path& tilesFolder, std::string_view currentTree,
                        Clock::time_point now, int64_t capBytes, const std::atomic<bool>* cancel = nullptr);
};

}  // namespace qm
