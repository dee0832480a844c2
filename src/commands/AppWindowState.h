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
};

// The JSON object of one window. Names that are not UTF-8 are stored in the
// byte-safe form of ByteSafeText.h.
void encodeAppWindowState(const AppWindowState& state, nlohmann::json& out);
// Nothing when a required key ("currentNode", "currentSelection",
// "isExpanded", "scrollState") is missing or of the wrong type; optional
// values that are missing or of the wrong type take their defaults.
std::optional<AppWindowState> decodeAppWindowState(const nlohmann::json& object);

}  // namespace qm
