#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/TagPasteboardType.h"
#include "core/QuickString.h"

namespace qm {

// What a drag carried, as the views read it from the platform's drag data:
// items, each with optional tag payload data and an optional URL.
struct DropItem {
    std::optional<std::string> tagPayload;  // data under TagPasteboardType::pasteboardType()
    std::optional<std::string> url;         // e.g. "file:///home/me/a%20b.jpg"
};

// What a drop of files onto a folder does with them.
enum class DropOperation : uint8_t { move, copy };

struct DropInfo {
    std::vector<DropItem> items;
    // What the drag's source lets the drop do with its files (our own views
    // allow both).
    bool sourceAllowsMove = true;
    bool sourceAllowsCopy = true;
    // What the user asked for with a modifier key (Ctrl copies, Shift moves).
    std::optional<DropOperation> requested;

    // The operation for files going into a folder: what was asked for when
    // the source allows it, else the only one the source allows, else a move
    // within one file system and a copy across file systems, as file
    // managers do (a file dragged off a USB stick stays there). None when the
    // source allows neither.
    std::optional<DropOperation> operationFor(bool sameFileSystem) const;

    // The dragged tag: only a drag of exactly one item with a readable payload.
    std::optional<TagPasteboardType> tagPayload() const;
    // The local paths of the file URLs, in drop order without repeats.
    std::vector<QuickString> filePaths() const;

    // Builders for the views and tests.
    static DropInfo forTag(const std::string& tag);
    static DropInfo forPaths(const std::vector<std::string>& paths);
};

}  // namespace qm
