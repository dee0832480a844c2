#include "library/Tree.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "library/TreeNames.h"

namespace qm {

namespace {

NodePtr addSection(const NodePtr& root, NodeKind kind, const QuickString& name) {
    NodePtr n = Node::make(kind, name, root);
    root->insertChild(n);
    return n;
}

void logLine(const std::string& line) {
    std::string out = line;
    out += '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

void logTagChange(const char* verb, const QuickString& tagNodeName, const char* preposition,
                  const QuickString& path) {
    logLine(std::string("[tree] ") + verb + " " + tagNodeName.description() + " " + preposition + " " +
            path.description());
}

// Deterministic order for log lines of a set change.
std::vector<QuickString> sortedNames(const QuickStringSet& set) {
    std::vector<QuickString> out(set.begin(), set.end());
    std::sort(out.begin(), out.end());
    return out;
}

// The pin name of a full name under Tags ("Tags/a/b" gives "a/b").
std::optional<QuickString> pinNameFor(const QuickString& fullName) {
    std::string_view s = fullName.utf8();
    constexpr std::string_view prefix = "Tags/";
    if (!s.starts_with(prefix)) return std::nullopt;
    return QuickString::bytes(s.substr(prefix.size()));
}

}  // namespace

Tree::Tree() {
    rootNode = Node::make(NodeKind::none, emptyString(), nullptr);
    pinnedNode = addSection(rootNode, NodeKind::none, pinnedSectionName());
    colorsNode = addSection(rootNode, NodeKind::none, colorsSectionName());
    directoriesNode = addSection(rootNode, NodeKind::directory, foldersSectionName());
    tagsNode = addSection(rootNode, NodeKind::tagContainer, tagsSectionName());
    starsNode = addSection(rootNode, NodeKind::tag, starString());
    starsNode->flags = NodeFlags::hidden;
    mapNode = addSection(rootNode, NodeKind::none, mapSectionName());
}

void Tree::addColorNodes(const TagFormat& format) {
    for (const auto& [label, color] : format.colorTags()) {
        QuickString name = QuickString::literal(label);
        NodePtr n = colorsNode->child(name);
        if (!n) {
            n = Node::make(NodeKind::tag, name, colorsNode);
            colorsNode->insertChild(n);
        }
        n->color = color;
    }
}

const QuickStringSet& Tree::tagsFor(const QuickString& path) const {
    static const QuickStringSet none;
    auto it = tags.find(path);
    return it == tags.end() ? none : *it->second;
}

bool Tree::isPinned(const QuickString& fullName) const {
    auto pin = pinNameFor(fullName);
    return pin && pinnedNode->child(*pin) != nullptr;
}

WhatChanged Tree::addTag(const QuickString& tagNodeName, const QuickString& path) {
    auto it = tags.find(path);
    if (it != tags.end() && it->second->contains(tagNodeName)) return WhatChanged::none;
    WhatChanged changed = rootNode->addPath(tagNodeName.components(), path, PathMetadata{});
    // The set may be shared with other files: change a copy.
    QuickStringSet names = it == tags.end() ? QuickStringSet{} : *it->second;
    names.insert(tagNodeName);
    tags.insert_or_assign(path, std::make_shared<const QuickStringSet>(std::move(names)));
    logTagChange("Added", tagNodeName, "to", path);
    return changed;
}

WhatChanged Tree::removeTag(const QuickString& tagNodeName, const QuickString& path,
                            const QuickStringSet& keep) {
    auto it = tags.find(path);
    if (it == tags.end() || !it->second->contains(tagNodeName)) return WhatChanged::none;
    WhatChanged changed = rootNode->removePath(tagNodeName.components(), path, keep);
    if (it->second->size() == 1) {
        tags.erase(it);
    } else {
        QuickStringSet names = *it->second;
        names.erase(tagNodeName);
        it->second = std::make_shared<const QuickStringSet>(std::move(names));
    }
    logTagChange("Removed", tagNodeName, "from", path);
    return changed;
}

WhatChanged Tree::setTags(const QuickStringSet& tagNodeNames, const QuickString& path) {
    static const QuickStringSet none;
    auto it = tags.find(path);
    // Held: removeTag and addTag replace the stored set.
    const TagSet held = it == tags.end() ? nullptr : it->second;
    const QuickStringSet& old = held ? *held : none;
    if (old == tagNodeNames) return WhatChanged::none;
    WhatChanged changed = WhatChanged::none;
    static const QuickStringSet keepNothing;
    for (const QuickString& name : sortedNames(old))
        if (!tagNodeNames.contains(name)) changed |= removeTag(name, path, keepNothing);
    for (const QuickString& name : sortedNames(tagNodeNames))
        if (!old.contains(name)) changed |= addTag(name, path);
    return changed;
}

bool Tree::addPin(const QuickString& fullName) {
    auto pin = pinNameFor(fullName);
    // The bare "Tags" has no pin name; a nameless pin would stand for nothing.
    if (!pin || pin->empty()) return false;
    if (pinnedNode->child(*pin)) return false;
    pinnedNode->insertChild(Node::make(NodeKind::pin, *pin, pinnedNode));
    return true;
}

bool Tree::removePin(const QuickString& fullName) {
    auto pin = pinNameFor(fullName);
    if (!pin) return false;
    NodePtr n = pinnedNode->child(*pin);
    if (!n || !n->isPinReference()) return false;
    pinnedNode->removeChild(*pin);
    return true;
}

}  // namespace qm
