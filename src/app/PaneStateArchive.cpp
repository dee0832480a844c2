#include "app/PaneStateArchive.h"

#include "app/PlaceholderPane.h"

// The panes' state types, where the panes are part of the build; a pane that
// is not yet stands in with PlaceholderPane, whose state is one offset.
#if __has_include("sidebar/SidebarScrollState.h")
#include "sidebar/SidebarScrollState.h"
#define QM_HAS_SIDEBAR_STATE 1
#endif
#if __has_include("map/MapScrollState.h")
#include "map/MapScrollState.h"
#define QM_HAS_MAP_STATE 1
#endif
#if __has_include("tilegrid/TileGridScrollState.h")
#include "tilegrid/TileGridScrollState.h"
#define QM_HAS_TILEGRID_STATE 1
#endif

namespace qm::paneStateArchive {

using Placeholder = PlaceholderPane::ScrollState;

std::optional<AppWindowState::SidebarScroll> archivedSidebar(const std::any& state) {
#ifdef QM_HAS_SIDEBAR_STATE
    if (const auto* s = std::any_cast<SidebarScrollState>(&state)) return AppWindowState::SidebarScroll{s->relativeScrollOffset};
#endif
    if (const auto* p = std::any_cast<Placeholder>(&state)) return AppWindowState::SidebarScroll{static_cast<double>(p->offset)};
    return std::nullopt;
}

std::optional<AppWindowState::MapScroll> archivedMap(const std::any& state) {
#ifdef QM_HAS_MAP_STATE
    if (const auto* s = std::any_cast<MapScrollState>(&state))
        return AppWindowState::MapScroll{s->rect.x, s->rect.y, s->rect.width, s->rect.height};
#endif
    if (const auto* p = std::any_cast<Placeholder>(&state)) return AppWindowState::MapScroll{static_cast<double>(p->offset), 0, 0, 0};
    return std::nullopt;
}

std::optional<AppWindowState::TileGridScroll> archivedTileGrid(const std::any& state) {
#ifdef QM_HAS_TILEGRID_STATE
    if (const auto* s = std::any_cast<TileGridScrollState>(&state))
        return AppWindowState::TileGridScroll{std::string(s->firstVisiblePath.utf8()), s->scrollOffset};
#endif
    if (const auto* p = std::any_cast<Placeholder>(&state))
        return AppWindowState::TileGridScroll{std::string(), static_cast<double>(p->offset)};
    return std::nullopt;
}

std::any restoredSidebar(const std::optional<AppWindowState::SidebarScroll>& state) {
    if (!state) return {};
#ifdef QM_HAS_SIDEBAR_STATE
    return SidebarScrollState{state->relativeScrollOffset};
#else
    return Placeholder{static_cast<int>(state->relativeScrollOffset)};
#endif
}

std::any restoredMap(const std::optional<AppWindowState::MapScroll>& state) {
    if (!state) return {};
#ifdef QM_HAS_MAP_STATE
    MapScrollState s;
    s.rect.x = state->x;
    s.rect.y = state->y;
    s.rect.width = state->w;
    s.rect.height = state->h;
    return s;
#else
    return Placeholder{static_cast<int>(state->x)};
#endif
}

std::any restoredTileGrid(const std::optional<AppWindowState::TileGridScroll>& state) {
    if (!state) return {};
#ifdef QM_HAS_TILEGRID_STATE
    // As archived: no path normalisation.
    return TileGridScrollState{QuickString::bytes(state->firstVisiblePath), state->scrollOffset};
#else
    return Placeholder{static_cast<int>(state->scrollOffset)};
#endif
}

AppWindowState::RootViewScrollState archived(const HistoryScrollState& state) {
    return {archivedSidebar(state.sidebar), archivedMap(state.map), archivedTileGrid(state.tileGrid)};
}

HistoryScrollState restored(const AppWindowState::RootViewScrollState& state) {
    return {restoredSidebar(state.sidebar), restoredMap(state.map), restoredTileGrid(state.tileGrid)};
}

}  // namespace qm::paneStateArchive
