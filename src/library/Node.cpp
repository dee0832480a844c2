#include "library/Node.h"

#include <algorithm>
#include <string>
#include <utility>

#include "core/Prefetch.h"
#include "library/TreeNames.h"

namespace qm {

namespace {

QuickString joinFullName(const NodePtr& parent, const QuickString& name) {
    if (!parent || parent->fullName.empty()) return name;
    std::string_view p = parent->fullName.utf8();
    std::string_view n = name.utf8();
    std::string joined;
    joined.reserve(p.size() + 1 + n.size());
    joined.append(p).append(1, '/').append(n);
    return QuickString::bytes(joined);
}

const std::vector<NodePtr>& noNodes() {
    static const std::vector<NodePtr> none;
    return none;
}

const std::vector<QuickString>& noPaths() {
    static const std::vector<QuickString> none;
    return none;
}

const Node::Paths& noPathMap() {
    static const Node::Paths none;
    return none;
}

// Where a root section goes: Pinned first, Map last, the rest by name.
int sectionRank(const QuickString& name) {
    if (name == pinnedSectionName()) return 0;
    if (name == mapSectionName()) return 2;
    return 1;
}

bool isExpanded(const Node& n, const QuickStringSet& expanded) {
    return expanded.contains(n.fullName);
}

const Node* firstVisibleChild(const Node& n) {
    for (const NodePtr& c : n.sortedChildren())
        if (!c->isHidden()) return c.get();
    return nullptr;
}

const Node* lastVisibleChild(const Node& n) {
    const auto& list = n.sortedChildren();
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (!(*it)->isHidden()) return it->get();
    return nullptr;
}

// The visible sibling before (step -1) or after (step +1) `child` in its
// parent's sorted children.
const Node* visibleSibling(const Node& parent, const Node* child, int step) {
    const auto& list = parent.sortedChildren();
    auto pos = std::find_if(list.begin(), list.end(), [child](const NodePtr& c) { return c.get() == child; });
    if (pos == list.end()) return nullptr;
    if (step > 0) {
        for (auto it = pos + 1; it != list.end(); ++it)
            if (!(*it)->isHidden()) return it->get();
    } else {
        for (auto it = pos; it != list.begin();) {
            --it;
            if (!(*it)->isHidden()) return it->get();
        }
    }
    return nullptr;
}

}  // namespace

Node::Node(Key, NodeKind kind_, QuickString name_, const NodePtr& parent)
    : kind(kind_), name(std::move(name_)), fullName(joinFullName(parent, name)), parent_(parent) {}

Node::~Node() {
    // Take the subtree apart level by level: letting each node destroy its
    // own children would recurse once per level, and a tag such as "a/a/a/…"
    // can nest thousands of levels deep.
    if (children_.empty()) return;
    std::vector<NodePtr> pending;
    for (auto& [_, c] : children_)
        pending.push_back(std::move(c));
    children_.clear();
    while (!pending.empty()) {
        NodePtr n = std::move(pending.back());
        pending.pop_back();
        if (n.use_count() == 1) {
            for (auto& [_, c] : n->children_)
                pending.push_back(std::move(c));
            n->children_.clear();
        }
    }
}

NodePtr Node::make(NodeKind kind, QuickString name) {
    return std::make_shared<Node>(Key{}, kind, std::move(name), nullptr);
}

NodePtr Node::pinTarget() const {
    if (!isPinReference()) return nullptr;
    NodePtr root = parent();
    while (root) {
        NodePtr up = root->parent();
        if (!up) break;
        root = std::move(up);
    }
    if (!root) return nullptr;
    if (isQuery()) {
        // A query's whole text is one name below Queries.
        NodePtr queries = root->child(queriesSectionName());
        return queries ? queries->child(name) : nullptr;
    }
    NodePtr tags = root->child(tagsSectionName());
    if (!tags) return nullptr;
    return tags->lookup(name.components());
}

const QuickString& Node::displayName() const {
    if (isPinReference() && isQuery())
        if (NodePtr target = pinTarget()) return target->displayName();  // the tree holds the target
    return label_.empty() ? name : label_;
}

NodePtr Node::lookup(const NodePath& components) const {
    if (isPinReference()) return nullptr;
    NodePtr cur = std::const_pointer_cast<Node>(weak_from_this().lock());
    const Node* at = this;
    for (const QuickString& c : components) {
        if (at->isPinReference()) return nullptr;
        auto it = at->children_.find(c);
        if (it == at->children_.end()) return nullptr;
        cur = it->second;
        at = cur.get();
    }
    return cur;
}

NodePtr Node::child(const QuickString& childName) const {
    auto it = children_.find(childName);
    return it == children_.end() ? nullptr : it->second;
}

NodePath Node::nodePath() const {
    NodePath out;
    const Node* at = this;
    NodePtr hold;
    while (true) {
        NodePtr up = at->parent();
        if (!up) break;
        out.push_back(at->name);
        hold = std::move(up);
        at = hold.get();
    }
    std::reverse(out.begin(), out.end());
    return out;
}

const Node::Paths& Node::resolvedPaths() const {
    if (!isPinReference()) return paths_;
    NodePtr target = pinTarget();
    // The target is owned by the tree, so its map outlives this call's result
    // for as long as the tree is not changed.
    return target ? target->paths_ : noPathMap();
}

bool Node::isEmpty() const {
    return !isPinReference() && children_.empty() && paths_.empty();
}

const std::vector<NodePtr>& Node::sortedChildren() const {
    if (isPinReference()) return noNodes();
    if (!sortedChildrenOrNil_) {
        std::vector<NodePtr> list;
        list.reserve(children_.size());
        for (const auto& [_, c] : children_)
            list.push_back(c);
        if (parent_.expired()) {
            std::sort(list.begin(), list.end(), [](const NodePtr& a, const NodePtr& b) {
                int ra = sectionRank(a->name), rb = sectionRank(b->name);
                if (ra != rb) return ra < rb;
                return a->name < b->name;
            });
        } else {
            std::sort(list.begin(), list.end(),
                      [](const NodePtr& a, const NodePtr& b) { return a->name < b->name; });
        }
        sortedChildrenOrNil_ = std::move(list);
    }
    return *sortedChildrenOrNil_;
}

const std::vector<QuickString>& Node::sortedPaths() const {
    if (isPinReference()) {
        NodePtr target = pinTarget();
        return target ? target->sortedPaths() : noPaths();
    }
    if (!sortedPathsOrNil_) {
        std::vector<QuickString> list;
        list.reserve(paths_.size());
        for (const auto& [p, _] : paths_)
            list.push_back(p);
        sortNatural(list);
        sortedPathsOrNil_ = std::move(list);
    }
    return *sortedPathsOrNil_;
}

std::optional<NodePath> Node::neighbour(const NodePath& path, const QuickStringSet& expanded,
                                        NeighbourMode mode) const {
    if (mode == NeighbourMode::first) {
        const Node* f = firstVisibleChild(*this);
        if (!f) return std::nullopt;
        return NodePath{f->name};
    }
    if (mode == NeighbourMode::last) {
        const Node* at = lastVisibleChild(*this);
        if (!at) return std::nullopt;
        NodePath out{at->name};
        while (isExpanded(*at, expanded)) {
            const Node* down = lastVisibleChild(*at);
            if (!down) break;
            out.push_back(down->name);
            at = down;
        }
        return out;
    }

    // The row the path names, with every node above it; each must be shown.
    if (path.empty()) return std::nullopt;
    std::vector<const Node*> chain{this};
    chain.reserve(path.size() + 1);
    for (const QuickString& step : path) {
        const Node* up = chain.back();
        if (!isExpanded(*up, expanded)) return std::nullopt;
        auto it = up->children_.find(step);
        if (it == up->children_.end() || it->second->isHidden()) return std::nullopt;
        chain.push_back(it->second.get());
    }
    const Node* row = chain.back();
    size_t depth = path.size();

    if (mode == NeighbourMode::next) {
        if (isExpanded(*row, expanded)) {
            if (const Node* f = firstVisibleChild(*row)) {
                NodePath out = path;
                out.push_back(f->name);
                return out;
            }
        }
        for (size_t k = depth; k >= 1; --k) {
            if (const Node* s = visibleSibling(*chain[k - 1], chain[k], +1)) {
                NodePath out(path.begin(), path.begin() + static_cast<ptrdiff_t>(k - 1));
                out.push_back(s->name);
                return out;
            }
        }
        return std::nullopt;
    }

    if (mode == NeighbourMode::previous) {
        const Node* s = visibleSibling(*chain[depth - 1], row, -1);
        if (!s) {
            if (depth == 1) return std::nullopt;
            return NodePath(path.begin(), path.end() - 1);
        }
        NodePath out(path.begin(), path.end() - 1);
        out.push_back(s->name);
        while (isExpanded(*s, expanded)) {
            const Node* down = lastVisibleChild(*s);
            if (!down) break;
            out.push_back(down->name);
            s = down;
        }
        return out;
    }
    return std::nullopt;
}

size_t Node::visibleRowCount(const QuickStringSet& expanded) const {
    // An explicit stack, since tag names can nest very deep.
    size_t rows = 0;
    std::vector<const Node*> pending{this};
    while (!pending.empty()) {
        const Node* n = pending.back();
        pending.pop_back();
        if (n->isHidden()) continue;
        ++rows;
        if (n->isPinReference() || !isExpanded(*n, expanded)) continue;
        for (const auto& [_, c] : n->children_)
            pending.push_back(c.get());
    }
    return rows;
}

NodePtr Node::walkCreating(const NodePath& components, bool& created) {
    NodePtr cur = weak_from_this().lock();
    if (!cur) return nullptr;
    for (const QuickString& c : components) {
        // Pin references stand for nodes elsewhere and never list anything.
        if (cur->isPinReference()) return nullptr;
        auto it = cur->children_.find(c);
        if (it != cur->children_.end()) {
            cur = it->second;
            continue;
        }
        NodePtr made = cur->addChild(NodeKind::subTag, c);
        created = true;
        cur = std::move(made);
    }
    if (cur->isPinReference()) return nullptr;
    return cur;
}

WhatChanged Node::addPath(const NodePath& components, const QuickString& path, const PathMetadata& metadata) {
    if (isPinReference()) return WhatChanged::none;
    bool created = false;
    NodePtr target = walkCreating(components, created);
    WhatChanged changed = created ? WhatChanged::children : WhatChanged::none;
    if (!target) return changed;
    if (target->insertPath(path, metadata)) changed |= WhatChanged::paths;
    return changed;
}

template <typename Add>
WhatChanged Node::addPathsWith(const NodePath& components, bool anyPaths, Add&& add) {
    if (isPinReference()) return WhatChanged::none;
    bool created = false;
    NodePtr target = walkCreating(components, created);
    WhatChanged changed = created ? WhatChanged::children : WhatChanged::none;
    if (!target || !anyPaths) return changed;
    if (add(target->paths_)) {
        target->sortedPathsOrNil_.reset();
        changed |= WhatChanged::paths;
    }
    return changed;
}

WhatChanged Node::addPaths(const NodePath& components, const Paths& newPaths) {
    return addPathsWith(components, !newPaths.empty(), [&](Paths& mine) {
        if (mine.empty()) {
            mine = newPaths;
            return true;
        }
        mine.reserve(mine.size() + newPaths.size());
        bool added = false;
        for (const auto& [path, metadata] : newPaths) added |= mine.insert_or_assign(path, metadata).second;
        return added;
    });
}

WhatChanged Node::addUnsharedPaths(const NodePath& components, std::span<const QuickString> newPaths) {
    return addPathsWith(components, !newPaths.empty(), [&](Paths& mine) {
        mine.reserve(mine.size() + newPaths.size());
        bool added = false;
        // The bulk build's paths are cold and its tables big: prefetch.
        forEachPrefetched(newPaths, mine, [&](const QuickString& path) {
            auto [it, inserted] = mine.try_emplace(path.unsharedCopy());
            if (!inserted) it->second = PathMetadata{};
            added |= inserted;
        });
        return added;
    });
}

WhatChanged Node::removePath(const NodePath& components, const QuickString& path,
                             const QuickStringSet& keep) {
    if (isPinReference()) return WhatChanged::none;
    std::vector<Node*> chain{this};
    chain.reserve(components.size() + 1);
    for (const QuickString& c : components) {
        Node* at = chain.back();
        if (at->isPinReference()) return WhatChanged::none;
        auto it = at->children_.find(c);
        if (it == at->children_.end()) return WhatChanged::none;
        chain.push_back(it->second.get());
    }
    Node* target = chain.back();
    if (!target->erasePath(path)) return WhatChanged::none;
    WhatChanged changed = WhatChanged::paths;
    // Emptied sub-tags go, bottom up; a node that stays keeps its parents.
    for (size_t k = chain.size() - 1; k >= 1; --k) {
        Node* child = chain[k];
        Node* up = chain[k - 1];
        if (!child->isEmpty() || !has(up->kind, NodeKind::tagContainer) || keep.contains(child->fullName))
            break;
        up->removeChild(child->name);  // `child` may be gone after this
        changed |= WhatChanged::children;
    }
    return changed;
}

WhatChanged Node::ensurePath(const NodePath& components, size_t roomForPaths) {
    if (isPinReference()) return WhatChanged::none;
    bool created = false;
    NodePtr target = walkCreating(components, created);
    if (target && roomForPaths > 0) target->paths_.reserve(target->paths_.size() + roomForPaths);
    return created ? WhatChanged::children : WhatChanged::none;
}

WhatChanged Node::pruneEmpty(const NodePath& components) {
    Node* at = this;
    for (const QuickString& c : components) {
        auto it = at->children_.find(c);
        if (it == at->children_.end()) return WhatChanged::none;
        Node* step = it->second.get();
        if (!step->isPinReference() && step->children_.empty() && step->paths_.empty() &&
            has(at->kind, NodeKind::tagContainer)) {
            at->removeChild(c);
            return WhatChanged::children;
        }
        at = step;
    }
    return WhatChanged::none;
}

NodePtr Node::addChild(NodeKind childKind, QuickString childName) {
    NodePtr child = std::make_shared<Node>(Key{}, childKind, childName, shared_from_this());
    children_.insert_or_assign(std::move(childName), child);
    sortedChildrenOrNil_.reset();
    return child;
}

NodePtr Node::removeChild(const QuickString& childName) {
    auto it = children_.find(childName);
    if (it == children_.end()) return nullptr;
    NodePtr gone = std::move(it->second);
    children_.erase(it);
    sortedChildrenOrNil_.reset();
    return gone;
}

bool Node::insertPath(const QuickString& path, const PathMetadata& metadata) {
    auto [it, inserted] = paths_.try_emplace(path, metadata);
    if (!inserted) {
        it->second = metadata;
        return false;
    }
    sortedPathsOrNil_.reset();
    return true;
}

bool Node::erasePath(const QuickString& path) {
    if (paths_.erase(path) == 0) return false;
    sortedPathsOrNil_.reset();
    return true;
}

Node::Paths Node::replacePaths(Paths paths) {
    Paths old = std::exchange(paths_, std::move(paths));
    sortedPathsOrNil_.reset();
    return old;
}

// ---- Folder bookkeeping ----

void Node::markStaleUpwards() {
    flags_ |= NodeFlags::descendantStale;
    for (NodePtr up = parent(); up; up = up->parent())
        up->flags_ |= NodeFlags::descendantStale;
}

void Node::markStale() {
    flags_ |= NodeFlags::stale;
    if (NodePtr up = parent()) up->markStaleUpwards();
}

void Node::markSubtreeStale() {
    // Every node that has children also gets the descendant mark, or the
    // pass would never walk down to them, and so do the ancestors: the
    // operation keeps every stale folder reachable by itself. An explicit
    // stack: folders can nest deep.
    if (children_.empty()) return;
    markStaleUpwards();
    std::vector<Node*> pending{this};
    while (!pending.empty()) {
        Node* n = pending.back();
        pending.pop_back();
        for (const auto& [_, child] : n->children_) {
            child->flags_ |= NodeFlags::stale;
            if (!child->children_.empty()) {
                child->flags_ |= NodeFlags::descendantStale;
                pending.push_back(child.get());
            }
        }
    }
}

void Node::markRead() {
    flags_ &= ~NodeFlags::stale;
}

void Node::markDescendantsRead() {
    flags_ &= ~NodeFlags::descendantStale;
}

NodePtr Node::addFoundSubfolder(QuickString subfolderName) {
    NodePtr child = addChild(NodeKind::directory, std::move(subfolderName));
    if (hasFlag(NodeFlags::opened))
        child->markStale();
    else
        child->flags_ |= NodeFlags::foundUnscheduled;
    return child;
}

bool Node::markOpened() {
    flags_ |= NodeFlags::opened;
    bool scheduled = false;
    for (const auto& [_, child] : children_) {
        if (!child->hasFlag(NodeFlags::foundUnscheduled)) continue;
        child->flags_ = (child->flags_ & ~NodeFlags::foundUnscheduled) | NodeFlags::stale;
        scheduled = true;
    }
    if (scheduled) markStaleUpwards();
    return scheduled;
}

}  // namespace qm
