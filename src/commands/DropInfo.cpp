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

std::optional<DropOperation> DropInfo::operationFor(bool sameFileSystem) const {
    auto allowed = [&](DropOperation op) { return op == DropOperation::move ? sourceAllowsMove : sourceAllowsCopy; };
    if (requested && allowed(*requested)) return requested;
    if (!sourceAllowsMove && !sourceAllowsCopy) return std::nullopt;
    if (!sourceAllowsMove) return DropOperation::copy;
    if (!sourceAllowsCopy) return DropOperation::move;
    return sameFileSystem ? DropOperation::move : DropOperation::copy;
}

DropInfo DropInfo::forTag(const std::string& tag) {
    DropInfo info;
    info.items.push_back(DropItem{TagPasteboardType(tag).pasteboardPropertyList(), std::nullopt});
    return info;
}

DropInfo DropInfo::forPaths(const std::vector<std::string>& paths) {
    DropInfo info;
    for (const std::string& p : paths)
        info.items.push_back(DropItem{std::nullopt, fileURLForPath(p)});
    return info;
}

}  // namespace qm
