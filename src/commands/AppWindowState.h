#pragma once

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>
#include <vector>

#include "core/QuickString.h"

namespace qm {

// What one browser window keeps across a relaunch. Plain values only: the
// window turns its panes' own scroll states into these records and back, so
// this codec knows nothing of the views. Names and paths are their raw bytes,
// taken as they are (no path normalisation).
struct AppWindowState {
    struct SidebarScroll {
        double relativeScrollOffset = 0;
        friend bool operator==(const SidebarScroll&, const SidebarScroll&) = default;
    };
    // The map's visible rectangle in map projection points.
    struct MapScroll {
        double x = 0;
        double y = 0;
        double w = 0;
        double h = 0;
        friend bool operator==(const MapScroll&, const MapScroll&) = default;
    };
    struct TileGridScroll {
        std::string firstVisiblePath;
        double scrollOffset = 0;
        friend bool operator==(const TileGridScroll&, const TileGridScroll&) = default;
    };
    struct RootViewScrollState {
        std::optional<SidebarScroll> sidebar;
        std::optional<MapScroll> map;
        std::optional<TileGridScroll> tileGrid;
        friend bool operator==(const RootViewScrollState&, const RootViewScrollState&) = default;
    };
    // The placed map circle: centre longitude, centre latitude, radius in
    // degrees of longitude.
    struct Circle {
        double x = 0;
        double y = 0;
        double r = 0;
        friend bool operator==(const Circle&, const Circle&) = default;
    };

    // Shared strings, so that taking a window's state copies no bytes.
    std::vector<QuickString> currentNode;
    std::vector<QuickString> currentSelection;
    std::vector<QuickString> isExpanded;
    bool isSidebarVisible = false;
    bool isTileGridViewFocused = false;
    double sidebarThickness = 0;
    RootViewScrollState scrollState;
    std::optional<Circle> placedCircle;

    friend bool operator==(const AppWindowState&, const AppWindowState&) = default;

    // The ranges every saved number must lie in. A value outside its range
    // (a damaged file, or a huge number that would make the views loop or
    // allocate without end) is read as if it were missing; the writer brings
    // its values into these ranges, so that what it saves always reads back.
    struct Limits {
        // A centre longitude is kept within half a turn of the antimeridian's
        // copies: what the map shows either side of ±180.
        static constexpr double longitude = 540;
        static constexpr double latitude = 90;
        // More than a whole turn of longitude covers the world anyway.
        static constexpr double radius = 360;
        // Twice the side of the map's world square (2^28 points).
        static constexpr double mapExtent = 536870912.0;
        static constexpr double sidebarThickness = 100000;
        static constexpr double scrollOffset = 1e9;
    };
};

// The JSON object of one window. Names that are not UTF-8 are stored in the
// byte-safe form of ByteSafeText.h.
void encodeAppWindowState(const AppWindowState& state, nlohmann::json& out);
// Nothing when a required key ("currentNode", "currentSelection",
// "isExpanded", "scrollState") is missing or of the wrong type; optional
// values that are missing or of the wrong type take their defaults.
std::optional<AppWindowState> decodeAppWindowState(const nlohmann::json& object);

}  // namespace qm
