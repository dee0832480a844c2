#pragma once

#include "library/UserDefaults.h"

// Every setting the program keeps in the user defaults, with its type and the
// value it has until one is stored. The keys and the stored types are what
// existing settings files hold: never rename or retype one.
namespace qm::settings {

// Set once the first start's folder-access probe has run.
inline constexpr BoolSetting hasBeenLaunched{"hasBeenLaunched", false};
// The pinned tags' node names ("Tags/Holidays"), in natural order.
inline constexpr TextListSetting pins{"pins"};
// The saved queries of the sidebar's Queries section: an array of objects,
// each with the text "name" and the text "expression" (a tag expression);
// elements of another shape are skipped. Kept apart from "pins".
inline constexpr std::string_view queriesKey = "queries";
// "light", "dark" or "auto"; any other text is no theme and reads as auto.
inline constexpr TextSetting theme{"theme", "auto"};
// Whether the file grid shows each file's name under its picture.
inline constexpr BoolSetting showFileNames{"showFileNames", true};
// Whether the map loads online tiles over its built-in world map.
inline constexpr BoolSetting mapTilesEnabled{"mapTilesEnabled", true};
// The address of one tile, with {z}, {x} and {y} for zoom, column and row.
inline constexpr TextSetting mapTileURLTemplate{"mapTileURLTemplate",
                                                "https://tile.openstreetmap.org/{z}/{x}/{y}.png"};
// The most the map's tiles may take on disk, in MiB (16 MiB to 64 GiB).
inline constexpr IntSetting mapTileCacheMegabytes{"mapTileCacheMegabytes", 256, 16, 64 * 1024};

}  // namespace qm::settings
