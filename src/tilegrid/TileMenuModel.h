#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/QuickString.h"
#include "library/Node.h"
#include "core/PathMetadata.h"
#include "library/Tree.h"

namespace qm {

// One line of the grid's context menu, free of any toolkit.
struct TileMenuEntry {
    enum class Kind : uint8_t { item, separator, header };
    enum class Action : uint8_t { none, showInFileManager, open, addTag, remove, jumpToDir, jumpToTag, jumpToMap };

    Kind kind = Kind::item;
    Action action = Action::none;
    std::string title;
    std::string target;        // jumpToDir: folder path; jumpToTag: tag node full name
    std::optional<GPS> gps;    // jumpToMap
    bool checked = false;

    friend bool operator==(const TileMenuEntry&, const TileMenuEntry&) = default;
};

// The menu for the selected files of a node: show, open, add a tag (the
// keyboard's way to tag files), remove or trash, then the sections that jump to the files' folders, tags and map position.
// Empty without a node. `isMapNode` marks the window's map node.
std::vector<TileMenuEntry> buildTileMenu(const Tree& tree, const NodePtr& node, bool isMapNode,
                                         const std::vector<QuickString>& selection);

// The title of a position: "latitude, longitude" with five decimals.
std::string coordinateTitle(const GPS& gps);

}  // namespace qm
