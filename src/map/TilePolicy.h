#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class MapCamera;

// An XYZ tile: zoom, column (eastward, wrapped) and row (southward).
struct TileKey {
    int z = 0;
    int x = 0;
    int y = 0;

    friend bool operator==(const TileKey&, const TileKey&) = default;
    uint64_t packed() const { return (uint64_t(uint32_t(z)) << 48) | (uint64_t(uint32_t(x)) << 24) | uint32_t(y); }
};

// A tile of the view: its key and where its top-left corner is drawn.
struct VisibleTile {
    TileKey key;
    double viewX = 0;
    double viewY = 0;
    double size = 0;  // view points per tile side
};

// The rules the online tiles follow: which tiles a view needs (only those,
// nearest the centre first), the URL of a tile, and how long a fetched tile
// is kept (the server's expiry, but never less than a week).
struct TilePolicy {
    using Clock = std::chrono::system_clock;
    static constexpr int maxZoom = 19;
    static constexpr int tileSize = 256;
    static constexpr int maxConnections = 2;
    static constexpr std::chrono::hours minimumLifetime{24 * 7};

    // The tile zoom for a camera zoom level on a display of that pixel ratio.
    static int tileZoomFor(double zoomLevel, double devicePixelRatio);
    // The tiles covering the camera's view at its tile zoom, the view's copy
    // of the world included, ordered from the centre outward.
    static std::vector<VisibleTile> visibleTiles(const MapCamera& camera, double devicePixelRatio);
    // The template with {z}, {x} and {y} replaced.
    static std::string url(std::string_view urlTemplate, const TileKey& key);
    // When a tile fetched at `now` expires, from the response's Cache-Control
    // and Expires (and Date, to correct for a skewed clock).
    static Clock::time_point expiry(Clock::time_point now, std::optional<std::string_view> cacheControl,
                                    std::optional<Clock::time_point> expires,
                                    std::optional<Clock::time_point> date);
};

}  // namespace qm
