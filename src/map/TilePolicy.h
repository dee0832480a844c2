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
    uint64_t packed() const {
        return (uint64_t(uint32_t(z)) << 48) | (uint64_t(uint32_t(x)) << 24) | uint32_t(y);
    }
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
    // A server's "keep forever" (Expires in the year 9999, a huge max-age)
    // is held to a year, so that the tile is checked again some day and the
    // time never leaves the clock's range.
    static constexpr std::chrono::hours maximumLifetime{24 * 365};
    // A tile is tens of KiB; anything much larger is not a tile.
    static constexpr int64_t maxResponseBytes = 4 * 1024 * 1024;
    // The largest tile image decoded (a 4x tile of 256 points).
    static constexpr int maxImageSide = 1024;

    // The tile zoom for a camera zoom level on a display of that pixel ratio.
    static int tileZoomFor(double zoomLevel, double devicePixelRatio);
    // The tiles covering the camera's view at its tile zoom, the view's copy
    // of the world included, ordered from the centre outward.
    static std::vector<VisibleTile> visibleTiles(const MapCamera& camera, double devicePixelRatio);
    // Whether a tile address template is one we fetch from: http or https
    // with a host, no spaces or control characters.
    static bool isAcceptedTemplate(std::string_view urlTemplate);
    // The template with {z}, {x} and {y} replaced.
    static std::string url(std::string_view urlTemplate, const TileKey& key);
    // When a tile fetched at `now` expires, from the response's Cache-Control
    // and Expires (and Date, to correct for a skewed clock).
    static Clock::time_point expiry(Clock::time_point now, std::optional<std::string_view> cacheControl,
                                    std::optional<Clock::time_point> expires,
                                    std::optional<Clock::time_point> date);
    // A time read from a header, as milliseconds since the epoch, held to
    // the years the clock can count (1970 to 2200).
    static Clock::time_point fromEpochMilliseconds(int64_t milliseconds);
    // An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT", or the older
    // "Sunday, 06-Nov-94 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994"),
    // held to the clock's years as above; none when it is not one.
    static std::optional<Clock::time_point> parseHttpDate(std::string_view text);
};

}  // namespace qm
