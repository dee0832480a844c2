#include "library/TreeNames.h"

namespace qm {

const QuickString& pinnedSectionName() {
    static const QuickString s = QuickString::literal("Pinned");
    return s;
}
const QuickString& colorsSectionName() {
    static const QuickString s = QuickString::literal("Colors");
    return s;
}
const QuickString& foldersSectionName() {
    static const QuickString s = QuickString::literal("Folders");
    return s;
}
const QuickString& tagsSectionName() {
    static const QuickString s = QuickString::literal("Tags");
    return s;
}
const QuickString& mapSectionName() {
    static const QuickString s = QuickString::literal("Map");
    return s;
}

const QuickString& queriesSectionName() {
    static const QuickString s = QuickString::literal("Queries");
    return s;
}

std::optional<QuickString> nodeNameForFolder(std::string_view path) {
    // Bytes, not decoded text: a home directory or folder name that is not
    // UTF-8 must still map one to one.
    std::string_view home = homeDirectory().utf8();
    if (path == home) return foldersSectionName();
    const std::string& homeSlash = homeDirectoryWithSlash();
    if (!path.starts_with(homeSlash)) return std::nullopt;
    std::string_view rest = path.substr(homeSlash.size());
    std::string full;
    full.reserve(8 + rest.size());
    full.append("Folders/").append(rest);
    return QuickString::bytes(full);
}

std::optional<QuickString> nodeNameForFolder(const QuickString& path) {
    return nodeNameForFolder(path.utf8());
}

std::optional<std::string> folderPathForNode(const QuickString& fullName) {
    std::string_view s = fullName.utf8();
    constexpr std::string_view folders = "Folders";
    // Only the section itself and names below it; "Folders2" is not a folder.
    if (!s.starts_with(folders) || (s.size() > folders.size() && s[folders.size()] != '/'))
        return std::nullopt;
    std::string out(homeDirectory().utf8());
    out.append(s.substr(folders.size()));
    return out;
}

}  // namespace qm
