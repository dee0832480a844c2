#include "commands/DropInfo.h"

#include <absl/container/flat_hash_set.h>

#include <cctype>

namespace qm {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

}  // namespace

std::optional<std::string> pathForFileURL(std::string_view url) {
    if (!startsWithNoCase(url, "file://")) return std::nullopt;
    std::string_view rest = url.substr(7);
    if (startsWithNoCase(rest, "localhost/")) rest.remove_prefix(9);
    if (rest.empty() || rest[0] != '/') return std::nullopt;  // another host
    size_t cut = rest.find_first_of("?#");
    if (cut != std::string_view::npos) rest = rest.substr(0, cut);
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size()) {
            int hi = hexValue(rest[i + 1]), lo = hexValue(rest[i + 2]);
            if (hi >= 0 && lo >= 0) {
                path += char(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        path += rest[i];
    }
    if (path.find('\0') != std::string::npos) return std::nullopt;
    return path;
}

std::string fileURLForPath(std::string_view path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '_' || c == '.' || c == '~' || c == '/';
        if (plain) {
            url += char(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

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
    for (const std::string& p : paths) info.items.push_back(DropItem{std::nullopt, fileURLForPath(p)});
    return info;
}

}  // namespace qm
