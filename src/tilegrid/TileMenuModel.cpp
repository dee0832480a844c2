#include "tilegrid/TileMenuModel.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "core/TagFormat.h"
#include "tilegrid/AddTagAction.h"

namespace qm {

namespace {

TileMenuEntry header(const char* title) {
    TileMenuEntry e;
    e.kind = TileMenuEntry::Kind::header;
    e.title = title;
    return e;
}

TileMenuEntry separator() {
    TileMenuEntry e;
    e.kind = TileMenuEntry::Kind::separator;
    return e;
}

TileMenuEntry item(TileMenuEntry::Action action, std::string title) {
    TileMenuEntry e;
    e.action = action;
    e.title = std::move(title);
    return e;
}

}  // namespace

std::string coordinateTitle(const GPS& gps) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.5f, %.5f", gps.latitude, gps.longitude);
    return buf;
}

std::vector<TileMenuEntry> buildTileMenu(const Tree& tree, const NodePtr& node, bool isMapNode,
                                         const std::vector<QuickString>& selection) {
    std::vector<TileMenuEntry> out;
    if (!node) return out;
    using A = TileMenuEntry::Action;
    out.push_back(item(A::showInFileManager, "Show in File Manager"));
    out.push_back(item(A::open, selection.size() == 1 ? "Open File" : "Open Files"));
    if (!selection.empty()) out.push_back(item(A::addTag, AddTagAction::title));
    const bool isTag = has(node->kind, NodeKind::tag);
    if (isTag) out.push_back(item(A::remove, "Remove from Tag"));
    if (has(node->kind, NodeKind::directory)) out.push_back(item(A::remove, "Move to Trash"));

    if (isTag || isMapNode || node->isQuery()) {
        // Title (relative to home) -> folder path; plain byte order of titles.
        std::map<std::string, std::string> folders;
        const std::string& home = homeDirectoryWithSlash();
        for (const QuickString& p : selection) {
            std::string_view s = p.utf8();
            size_t slash = s.rfind('/');
            if (slash == std::string_view::npos) continue;
            std::string_view folder = s.substr(0, slash);
            if (folder.size() <= home.size() || !folder.starts_with(home)) continue;
            folders.emplace(std::string(folder.substr(home.size())), std::string(folder));
        }
        if (!folders.empty()) {
            out.push_back(separator());
            out.push_back(header("Jump to Folder:"));
            for (const auto& [title, folder] : folders) {
                TileMenuEntry e = item(A::jumpToDir, title);
                e.target = folder;
                out.push_back(std::move(e));
            }
        }
    }

    QuickStringSet names;
    for (const QuickString& p : selection)
        for (const QuickString& n : tree.tagsFor(p))
            if (n != tree.starsNode()->fullName) names.insert(n);
    if (!names.empty()) {
        std::vector<QuickString> sorted(names.begin(), names.end());
        std::sort(sorted.begin(), sorted.end());
        out.push_back(separator());
        out.push_back(header("Jump to Tag:"));
        for (const QuickString& n : sorted) {
            auto tag = TagFormat::tagForNodeName(n);
            if (!tag) continue;
            TileMenuEntry e = item(A::jumpToTag, *tag);
            e.target = std::string(n.utf8());
            e.checked = isTag && node->fullName == n;
            out.push_back(std::move(e));
        }
    }

    if (selection.size() == 1) {
        const auto& located = tree.mapNode()->resolvedPaths();
        auto it = located.find(selection.front());
        if (it != located.end() && it->second.gps) {
            out.push_back(separator());
            out.push_back(header("Jump to Map:"));
            TileMenuEntry e = item(A::jumpToMap, coordinateTitle(*it->second.gps));
            e.gps = it->second.gps;
            out.push_back(std::move(e));
        }
    }
    return out;
}

}  // namespace qm
