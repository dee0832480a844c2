#include "app/PaneStateArchive.h"

#include "map/MapScrollState.h"
#include "sidebar/SidebarScrollState.h"
#include "tilegrid/TileGridScrollState.h"

namespace qm::paneStateArchive {

std::optional<AppWindowState::SidebarScroll> archivedSidebar(const std::any& state) {
    if (const auto* s = std::any_cast<SidebarScrollState>(&state)) return AppWindowState::SidebarScroll{s->relativeScrollOffset};
    return std::nullopt;
}

std::optional<AppWindowState::MapScroll> archivedMap(const std::any& state) {
    if (const auto* s = std::any_cast<MapScrollState>(&state))
        return AppWindowState::MapScroll{s->rect.x, s->rect.y, s->rect.width, s->rect.height};
    return std::nullopt;
}

std::optional<AppWindowState::TileGridScroll> archivedTileGrid(const std::any& state) {
    if (const auto* s = std::any_cast<TileGridScrollState>(&state))
        return AppWindowState::TileGridScroll{std::string(s->firstVisiblePath.utf8()), s->scrollOffset};
    return std::nullopt;
}

std::any restoredSidebar(const std::optional<AppWindowState::SidebarScroll>& state) {
    if (!state) return {};
    return SidebarScrollState{state->relativeScrollOffset};
}

std::any restoredMap(const std::optional<AppWindowState::MapScroll>& state) {
    if (!state) return {};
    MapScrollState s;
    s.rect.x = state->x;
    s.rect.y = state->y;
    s.rect.width = state->w;
    s.rect.height = state->h;
    return s;
}

std::any restoredTileGrid(const std::optional<AppWindowState::TileGridScroll>& state) {
    if (!state) return {};
    // As archived: no path normalisation.
    return TileGridScrollState{QuickString::bytes(state->firstVisiblePath), state->scrollOffset};
}

AppWindowState::RootViewScrollState archived(const HistoryScrollState& state) {
    return {archivedSidebar(state.sidebar), archivedMap(state.map), archivedTileGrid(state.tileGrid)};
}

HistoryScrollState restored(const AppWindowState::RootViewScrollState& state) {
    return {restoredSidebar(state.sidebar), restoredMap(state.map), restoredTileGrid(state.tileGrid)};
}

}  // namespace qm::paneStateArchive
