#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "map/TilePolicy.h"

namespace qm {

// Fetched tiles on disk, one file per tile under root/<z>/<x>/<y>.tile: the
// expiry (8 bytes, seconds since the epoch) followed by the image bytes as
// the server sent them. Written to a temporary file and renamed, so a reader
// never sees half a tile. Failures only mean the tile is fetched again.
class TileDiskCache {
public:
    struct Entry {
        std::string bytes;
        TilePolicy::Clock::time_point expiry;
    };

    explicit TileDiskCache(std::filesystem::path root) : root_(std::move(root)) {}

    // The cache of a tile source under `cacheHome` ($XDG_CACHE_HOME):
    // quillomere/tiles/<hash of the URL template>.
    static std::filesystem::path rootFor(const std::filesystem::path& cacheHome, const std::string& urlTemplate);

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path pathOf(const TileKey& key) const;
    std::optional<Entry> read(const TileKey& key) const;
    bool write(const TileKey& key, const std::string& bytes, TilePolicy::Clock::time_point expiry) const;

private:
    std::filesystem::path root_;
};

}  // namespace qm
