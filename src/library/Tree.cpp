#include "library/Tree.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/Log.h"
#include "core/Prefetch.h"
#include "library/TreeNames.h"

namespace qm {

namespace {

void logTagChange(const char* verb, const QuickString& tagNodeName, const char* preposition,
                  const QuickString& path) {
    logLine(LogArea::tree, std::string(verb) + " " + tagNodeName.description() + " " + preposition + " " +
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

// The same for a query ("Queries/a or b" gives "a or b").
std::optional<QuickString> queryPinNameFor(const QuickString& fullName) {
    std::string_view s = fullName.utf8();
    constexpr std::string_view prefix = "Queries/";
    if (!s.starts_with(prefix)) return std::nullopt;
    return QuickString::bytes(s.substr(prefix.size()));
}

}  // namespace

Tree::Tree() {
    rootNode_ = Node::make(NodeKind::none, emptyString());
    pinnedNode_ = rootNode_->addChild(NodeKind::none, pinnedSectionName());
    colorsNode_ = rootNode_->addChild(NodeKind::none, colorsSectionName());
    directoriesNode_ = rootNode_->addChild(NodeKind::directory, foldersSectionName());
    tagsNode_ = rootNode_->addChild(NodeKind::tagContainer, tagsSectionName());
    starsNode_ = rootNode_->addChild(NodeKind::tag, starString());
    starsNode_->hide();
    mapNode_ = rootNode_->addChild(NodeKind::none, mapSectionName());
}

void Tree::addColorNodes(const TagFormat& format) {
    for (const auto& [label, color] : format.colorTags()) {
        QuickString name = QuickString::literal(label);
        NodePtr n = colorsNode_->child(name);
        if (!n) n = colorsNode_->addChild(NodeKind::tag, name);
        n->color_ = color;
    }
}

const QuickStringSet& Tree::tagsFor(const QuickString& path) const {
    static const QuickStringSet none;
    auto it = tags_->find(path);
    return it == tags_->end() ? none : *it->second;
}

Tree::Tags& Tree::writableTags() {
    // A reader on another thread holds the map: it keeps that one, unchanged.
    if (tags_.use_count() > 1) tags_ = std::make_shared<Tags>(*tags_);
    return *tags_;
}

bool Tree::isPinned(const QuickString& fullName) const {
    if (auto query = queryPinNameFor(fullName)) {
        NodePtr n = pinnedNode_->child(*query);
        return n && n->kind == NodeKind::queryPin;
    }
    auto pin = pinNameFor(fullName);
    return pin && pinnedNode_->child(*pin) != nullptr;
}

WhatChanged Tree::addTag(const QuickString& tagNodeName, const QuickString& path) {
    if (tagsFor(path).contains(tagNodeName)) return WhatChanged::none;
    Tags& tags = writableTags();
    auto it = tags.find(path);
    WhatChanged changed = rootNode_->addPath(tagNodeName.components(), path, PathMetadata{});
    // The set may be shared with other files: change a copy.
    QuickStringSet names = it == tags.end() ? QuickStringSet{} : *it->second;
    names.insert(tagNodeName);
    tags.insert_or_assign(path, std::make_shared<const QuickStringSet>(std::move(names)));
    logTagChange("Added", tagNodeName, "to", path);
    return changed | queryChange(path);
}

WhatChanged Tree::removeTag(const QuickString& tagNodeName, const QuickString& path,
                            const QuickStringSet& keep) {
    if (!tagsFor(path).contains(tagNodeName)) return WhatChanged::none;
    Tags& tags = writableTags();
    auto it = tags.find(path);
    WhatChanged changed = rootNode_->removePath(tagNodeName.components(), path, keep);
    if (it->second->size() == 1) {
        tags.erase(it);
    } else {
        QuickStringSet names = *it->second;
        names.erase(tagNodeName);
        it->second = std::make_shared<const QuickStringSet>(std::move(names));
    }
    logTagChange("Removed", tagNodeName, "from", path);
    return changed | queryChange(path);
}

WhatChanged Tree::setTags(const QuickStringSet& tagNodeNames, const QuickString& path) {
    static const QuickStringSet none;
    auto it = tags_->find(path);
    // Held: removeTag and addTag replace the stored set.
    const TagSet held = it == tags_->end() ? nullptr : it->second;
    const QuickStringSet& old = held ? *held : none;
    if (old == tagNodeNames) return WhatChanged::none;
    WhatChanged changed = WhatChanged::none;
    static const QuickStringSet keepNothing;
    deferQueries_ = true;
    for (const QuickString& name : sortedNames(old))
        if (!tagNodeNames.contains(name)) changed |= removeTag(name, path, keepNothing);
    for (const QuickString& name : sortedNames(tagNodeNames))
        if (!old.contains(name)) changed |= addTag(name, path);
    deferQueries_ = false;
    return changed | queryChange(path);
}

WhatChanged Tree::queryChange(const QuickString& path) {
    if (deferQueries_) return WhatChanged::none;
    auto it = tags_->find(path);
    return queries_.fileChanged(path, it == tags_->end() ? nullptr : it->second.get());
}

std::vector<std::pair<QuickString, Tree::TagSet>> Tree::addTagGroups(std::span<const TagGroup> groups) {
    std::vector<std::pair<QuickString, TagSet>> merged;
    size_t files = 0;
    for (const TagGroup& group : groups)
        files += group.paths.size();
    Tags& tags = writableTags();
    tags.reserve(tags.size() + files);
    for (const TagGroup& group : groups) {
        forEachPrefetched(group.paths, tags, [&](const QuickString& path) {
            auto [entry, inserted] = tags.try_emplace(path.unsharedCopy(), group.names);
            if (inserted || entry->second == group.names) return;
            // Two items with one path: the path carries both items' tags.
            QuickStringSet both = *entry->second;
            both.insert(group.names->begin(), group.names->end());
            entry->second = std::make_shared<const QuickStringSet>(std::move(both));
            merged.emplace_back(path, nullptr);
        });
    }
    for (auto& [path, set] : merged)
        set = tags.at(path);

    // Each tag node is found once, and its table made its final size before
    // it is filled.
    struct Target {
        size_t paths = 0;
        Node* node = nullptr;
    };
    absl::flat_hash_map<QuickString, Target> targets;
    for (const TagGroup& group : groups)
        for (const QuickString& name : *group.names)
            targets[name].paths += group.paths.size();
    for (auto& [name, target] : targets) {
        const NodePath components = name.components();
        rootNode_->ensurePath(components, target.paths);
        target.node = rootNode_->lookup(components).get();
    }
    for (const TagGroup& group : groups)
        for (const QuickString& name : *group.names)
            if (Node* node = targets.find(name)->second.node) node->addUnsharedPaths({}, group.paths);
    return merged;
}

bool Tree::addPin(const QuickString& fullName) {
    if (auto query = queryPinNameFor(fullName)) {
        if (query->empty() || pinnedNode_->child(*query)) return false;
        pinnedNode_->addChild(NodeKind::queryPin, *query);
        return true;
    }
    auto pin = pinNameFor(fullName);
    // The bare "Tags" has no pin name; a nameless pin would stand for nothing.
    if (!pin || pin->empty()) return false;
    if (pinnedNode_->child(*pin)) return false;
    pinnedNode_->addChild(NodeKind::pin, *pin);
    return true;
}

bool Tree::removePin(const QuickString& fullName) {
    const bool isQuery = queryPinNameFor(fullName).has_value();
    auto pin = isQuery ? queryPinNameFor(fullName) : pinNameFor(fullName);
    if (!pin) return false;
    if (NodePtr n = pinnedNode_->child(*pin); n && (n->kind == NodeKind::queryPin) != isQuery) return false;
    NodePtr n = pinnedNode_->child(*pin);
    if (!n || !n->isPinReference()) return false;
    pinnedNode_->removeChild(*pin);
    return true;
}

}  // namespace qm
