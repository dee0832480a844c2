#pragma once

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

struct DropInfo {
    std::vector<DropItem> items;

    // The dragged tag: only a drag of exactly one item with a readable payload.
    std::optional<TagPasteboardType> tagPayload() const;
    // The local paths of the file URLs, in drop order without repeats.
    std::vector<QuickString> filePaths() const;

    // Builders for the views and tests.
    static DropInfo forTag(const std::string& tag);
    static DropInfo forPaths(const std::vector<std::string>& paths);
};

}  // namespace qm
