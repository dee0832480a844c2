#include "commands/DropInfo.h"

#include <absl/container/flat_hash_set.h>

#include "core/FileURL.h"

namespace qm {

std::optional<TagPasteboardType> DropInfo::tagPayload() const {
    if (items.size() != 1 || !items[0].tagPayload) return std::nullopt;
    return TagPasteboardType::decode(*items[0].tagPayload);
}

std::vector<QuickString> DropInfo::filePaths() const {
    std::vector<QuickString> out;
    absl::flat_hash_set<QuickString> seen;
    for (const DropItem& item : items) {
        if (!item.url) continue;
        std::optional<std::string> path = pathForFileURL(*item.url);
        if (!path) continue;
        QuickString p = QuickString::path(*path);
        if (p.empty()) continue;
        if (seen.insert(p).second) out.push_back(p);
    }
    return out;
}

DropInfo DropInfo::forTag(const std::string& tag) {
    return DropInfo{{DropItem{TagPasteboardType(tag).pasteboardPropertyList(), std::nullopt}}};
}

DropInfo DropInfo::forPaths(const std::vector<std::string>& paths) {
    DropInfo info;
    for (const std::string& p : paths)
        info.items.push_back(DropItem{std::nullopt, fileURLForPath(p)});
    return info;
}

}  // namespace qm
