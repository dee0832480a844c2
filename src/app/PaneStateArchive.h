#pragma once

#include <any>
#include <optional>

#include "commands/AppWindowState.h"
#include "commands/HistoryEntry.h"

namespace qm {

// Turns the panes' own scroll states (opaque std::any values, as history
// keeps them) into the archived records and back. An empty or foreign value
// archives as absent; an absent record restores as an empty value, which
// every pane ignores.
namespace paneStateArchive {

AppWindowState::RootViewScrollState archived(const HistoryScrollState& state);
HistoryScrollState restored(const AppWindowState::RootViewScrollState& state);

std::optional<AppWindowState::SidebarScroll> archivedSidebar(const std::any& state);
std::optional<AppWindowState::MapScroll> archivedMap(const std::any& state);
std::optional<AppWindowState::TileGridScroll> archivedTileGrid(const std::any& state);
std::any restoredSidebar(const std::optional<AppWindowState::SidebarScroll>& state);
std::any restoredMap(const std::optional<AppWindowState::MapScroll>& state);
std::any restoredTileGrid(const std::optional<AppWindowState::TileGridScroll>& state);

}  // namespace paneStateArchive

}  // namespace qm
