#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "map/TilePolicy.h"

namespace qm {

// Fetched tiles on disk, one file per tile under root/<z>/<x>/<y>.tile: the
// expiry (8 bytes, seconds since the epoch) followed by the image bytes as
// the server sent them. The folders are the user's alone (0700); a tile is
// written under a unique temporary name and renamed, so neither a reader nor
// a second writer ever sees half a tile. A file's modification time is when
// it was last used, for the pruning (TileCachePruner). Failures only mean
// the tile is fetched again. Any thread; one call touches one tile.
class TileDiskCache {
public:
    struct Entry {
        std::string bytes;
        TilePolicy::Clock::time_point expiry;
    };

    // The tree's marker file, whose time is the tree's last use.
    static constexpr const char* markerName = "last-used";

    explicit TileDiskCache(std::filesystem::path root) : root_(std::move(root)) {}

    // The cache of a tile source under `cacheHome` ($XDG_CACHE_HOME):
    // quillomere/tiles/<hash of the URL template>.
    static std::filesystem::path rootFor(const std::filesystem::path& cacheHome,
                                         const std::string& urlTemplate);

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path pathOf(const TileKey& key) const;
    // The tile, or none when missing, damaged or larger than a tile may be.
    // A tile read is marked as used (at most once a day, to spare writes).
    std::optional<Entry> read(const TileKey& key) const;
    bool write(const TileKey& key, const std::string& bytes, TilePolicy::Clock::time_point expiry) const;
    // Records that the tree is in use now.
    void markUsed() const;

    // Makes the folder and the missing ones above it up to `base` (which
    // must exist), each 0700; an existing folder of ours is made 0700 too.
    static bool makePrivateFolders(const std::filesystem::path& base, const std::filesystem::path& folder);

private:
    std::filesystem::path root_;
};

}  // namespace qm
