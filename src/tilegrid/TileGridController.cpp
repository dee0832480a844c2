#include "tilegrid/TileGridController.h"

#include <algorithm>

#include "commands/BrowserState.h"
#include "commands/CommandStack.h"
#include "commands/FileOperations.h"
#include "commands/TagChangeBuilder.h"
#include "commands/TagChangeCommand.h"
#include "commands/ToTrashCommand.h"
#include "core/TagFormat.h"
#include "library/DB.h"
#include "library/TreeNames.h"

namespace qm {

namespace {

std::vector<QuickString> sortedPaths(const QuickStringSet& set) {
    std::vector<QuickString> out(set.begin(), set.end());
    std::sort(out.begin(), out.end());
    return out;
}

TileEffect effect(TileEffect::Kind kind) {
    TileEffect e;
    e.kind = kind;
    return e;
}

}  // namespace

TileGridController::TileGridController(std::shared_ptr<BrowserState> window, TypeAhead::Clock clock)
    : window_(std::move(window)), typeAhead_(std::move(clock)) {
    nodeChanged_ = window_->currentNodeChanged.subscribe([this] { currentNodeChanged(); });
}

NodePtr TileGridController::currentNode() const {
    return window_->context().db->tree().lookup(window_->currentNode());
}

bool TileGridController::isMapNode() const {
    NodePtr node = currentNode();
    return node && node == window_->context().db->tree().mapNode();
}

TileGridLayout TileGridController::layout(double width) const {
    const Tree& tree = window_->context().db->tree();
    NodePtr node = tree.lookup(window_->currentNode());
    if (node && node == tree.mapNode()) {
        static const std::vector<QuickString> none;
        const auto& results = window_->mapResults();
        return TileGridLayout::make(width, tree.rootNode(), results ? *results : none, captionHeight_);
    }
    if (!node) return TileGridLayout::make(width, nullptr, {}, captionHeight_);
    return TileGridLayout::make(width, node, node->sortedPaths(), captionHeight_);
}

// ---- Selection ----

bool TileGridController::isSelected(const QuickString& path) const {
    return window_->currentSelection().contains(path);
}

bool TileGridController::isStarred(const QuickString& path) const {
    const NodePtr& stars = window_->context().db->tree().starsNode();
    return stars && stars->resolvedPaths().contains(path);
}

void TileGridController::noticeSelection() {
    if (window_->currentSelection().empty()) selection_.isUsingCheckBoxes = false;
    selection_.noticeSelection(window_->currentSelection());
}

std::optional<size_t> TileGridController::cursorIndex(const TileGridLayout& layout) const {
    return selection_.cursorIndex(layout.paths, window_->currentSelection());
}

void TileGridController::setSelection(const QuickStringSet& selection) {
    window_->setCurrentSelection(selection);
}

void TileGridController::press(const TileGridLayout& layout, std::optional<size_t> i, TileZone zone,
                               Modifiers mods) {
    typeAhead_.reset();
    TileSelection::Click click =
        selection_.mouseDown(i, zone, {mods.shift, mods.command}, layout.paths, window_->currentSelection());
    switch (click.effect) {
    case TileSelection::Click::Effect::none: break;
    case TileSelection::Click::Effect::select: setSelection(click.selection); break;
    case TileSelection::Click::Effect::toggleStar: toggleStar(click.path); break;
    }
}

void TileGridController::release() {
    if (auto next = selection_.mouseUp(window_->currentSelection())) setSelection(*next);
}

void TileGridController::dragMoved() {
    selection_.itemToRemoveOnMouseUp.reset();
}

TileEffects TileGridController::arrow(const TileGridLayout& layout, TileArrow direction, Modifiers mods) {
    typeAhead_.reset();
    if (layout.count() == 0) return {};
    std::optional<size_t> k = cursorIndex(layout);
    size_t target = tileArrowTarget(direction, k, layout.count(), size_t(layout.columns), size_t(layout.rows),
                                    mods.command);
    TileEffect scroll = effect(TileEffect::Kind::scrollTo);
    scroll.index = direction == TileArrow::down && mods.command ? layout.count() - 1 : target;
    selection_.isUsingCheckBoxes = false;
    setSelection(selection_.selectIndex(target, mods.shift, layout.paths));
    return {scroll};
}

void TileGridController::selectAll(const TileGridLayout& layout) {
    setSelection(selection_.selectAll(layout.paths));
}

TileEffects TileGridController::escape() {
    typeAhead_.reset();
    if (!window_->currentSelection().empty()) {
        setSelection({});
        return {};
    }
    if (isMapNode()) return {effect(TileEffect::Kind::removeCircle)};
    return {};
}

TileEffects TileGridController::activate(const TileGridLayout& layout, size_t i) {
    if (i >= layout.count()) return {};
    selection_.isUsingCheckBoxes = false;
    setSelection(selection_.selectIndex(i, false, layout.paths));
    return open();
}

TileEffects TileGridController::typeAhead(const TileGridLayout& layout, std::string_view characters) {
    if (characters.empty() || layout.count() == 0) return {};
    // The file found last is the cursor: typing selected it. With none the
    // search begins at the first file.
    const std::optional<size_t> start = cursorIndex(layout);
    auto nameAt = [&](size_t i) {
        std::string_view p = layout.paths[i].utf8();
        size_t slash = p.rfind('/');
        return slash == std::string_view::npos ? p : p.substr(slash + 1);
    };
    std::optional<size_t> hit = typeAhead_.type(characters, layout.count(), nameAt, start);
    if (!hit) return {};
    selection_.isUsingCheckBoxes = false;
    setSelection(selection_.selectIndex(*hit, false, layout.paths));
    TileEffect scroll = effect(TileEffect::Kind::scrollTo);
    scroll.index = *hit;
    return {scroll};
}

// ---- Actions ----

std::vector<QuickString> TileGridController::selectedShownPaths() const {
    std::vector<QuickString> out;
    NodePtr node = currentNode();
    if (!node) return out;
    const QuickStringSet& selected = window_->currentSelection();
    if (isMapNode()) {
        // In the order shown, as the map results have no other.
        TileGridLayout shown = layout(0);
        for (const QuickString& p : shown.paths)
            if (selected.contains(p)) out.push_back(p);
        return out;
    }
    const Node::Paths& listed = node->resolvedPaths();
    for (const QuickString& p : sortedPaths(selected))
        if (listed.contains(p)) out.push_back(p);
    return out;
}

TileEffects TileGridController::open() const {
    std::vector<QuickString> paths = selectedShownPaths();
    if (paths.empty()) return {};
    // Each file starts an application of its own: hundreds at once would
    // bury the desktop, so a large number is confirmed first.
    TileEffect e = effect(paths.size() > kOpenWithoutAsking ? TileEffect::Kind::confirmOpen : TileEffect::Kind::open);
    e.paths = std::move(paths);
    return {e};
}

TileEffects TileGridController::showInFileManager() const {
    std::vector<QuickString> paths = selectedShownPaths();
    if (paths.empty()) return {};
    TileEffect e = effect(TileEffect::Kind::showInFileManager);
    e.paths = std::move(paths);
    return {e};
}

void TileGridController::deleteSelection() {
    NodePtr node = currentNode();
    if (!node) return;
    const QuickStringSet& selected = window_->currentSelection();
    const Node::Paths& listed = node->resolvedPaths();
    if (has(node->kind, NodeKind::tag)) {
        if (auto tag = TagFormat::tagForNodeName(node->fullName)) {
            TagChangeBuilder builder;
            for (const QuickString& p : selected)
                if (listed.contains(p)) builder.removeTag(p, *tag);
            std::vector<TagChange> changes = builder.build();
            if (!changes.empty())
                window_->commandStack()->performCommand(std::make_shared<TagChangeCommand>(
                    TagChangeKind::untag, TagChangeKind::untag, std::move(changes), std::set<std::string>{},
                    std::set<std::string>{}));
            return;
        }
    }
    if (has(node->kind, NodeKind::directory)) {
        std::vector<std::string> paths;
        for (const QuickString& p : sortedPaths(selected))
            if (listed.contains(p)) paths.emplace_back(p.utf8());
        if (!paths.empty())
            window_->commandStack()->performCommand(
                std::make_shared<ToTrashCommand>(std::move(paths), TrashKind::files));
    }
}

void TileGridController::toggleStar(const QuickString& path) {
    bool starred = isStarred(path);
    TagChange change{path, {}, {}};
    std::string star(starString().utf8());
    if (starred) change.tagsToRemove.insert(star);
    else change.tagsToAdd.insert(star);
    TagChangeKind kind = starred ? TagChangeKind::unstar : TagChangeKind::star;
    window_->commandStack()->performCommand(std::make_shared<TagChangeCommand>(
        kind, kind, std::vector<TagChange>{change}, std::set<std::string>{}, std::set<std::string>{}));
}

// ---- Context menu ----

std::vector<TileMenuEntry> TileGridController::menu(const TileGridLayout& layout, size_t i,
                                                    std::vector<QuickString>* selection) {
    NodePtr node = currentNode();
    if (!node || i >= layout.count()) return {};
    const QuickString& path = layout.paths[i];
    if (!window_->currentSelection().contains(path)) {
        selection_.isUsingCheckBoxes = false;
        setSelection(selection_.selectIndex(i, false, layout.paths));
    }
    std::vector<QuickString> selected = sortedPaths(window_->currentSelection());
    std::vector<TileMenuEntry> entries = buildTileMenu(window_->context().db->tree(), node, isMapNode(), selected);
    if (selection) *selection = std::move(selected);
    return entries;
}

TileEffects TileGridController::runMenuAction(const TileMenuEntry& entry, const std::vector<QuickString>& selection) {
    using A = TileMenuEntry::Action;
    switch (entry.action) {
    case A::none: return {};
    case A::showInFileManager: return showInFileManager();
    case A::open: return open();
    case A::addTag: {
        TileEffect e = effect(TileEffect::Kind::promptAddTag);
        e.paths = selectedShownPaths();
        if (e.paths.empty()) return {};
        return {e};
    }
    case A::remove: deleteSelection(); return {};
    case A::jumpToDir: {
        auto name = nodeNameForFolder(entry.target);
        if (!name) return {};
        TileEffect e = effect(TileEffect::Kind::reveal);
        e.node = nodePathForFullName(*name);
        for (const QuickString& p : selection) {
            std::string_view s = p.utf8();
            size_t slash = s.rfind('/');
            if (slash != std::string_view::npos && s.substr(0, slash) == entry.target) e.files.insert(p);
        }
        return {e};
    }
    case A::jumpToTag: {
        TileEffect e = effect(TileEffect::Kind::reveal);
        e.node = nodePathForFullName(QuickString::bytes(entry.target));
        if (NodePtr node = window_->context().db->tree().lookup(e.node)) {
            const Node::Paths& listed = node->resolvedPaths();
            for (const QuickString& p : selection)
                if (listed.contains(p)) e.files.insert(p);
        }
        return {e};
    }
    case A::jumpToMap: {
        if (!entry.gps) return {};
        TileEffect e = effect(TileEffect::Kind::revealMap);
        e.gps = entry.gps;
        return {e};
    }
    }
    return {};
}

// ---- Drag and drop ----

std::vector<QuickString> TileGridController::draggedPaths(const TileGridLayout& layout) const {
    std::vector<QuickString> out;
    const QuickStringSet& selected = window_->currentSelection();
    if (selected.empty()) return out;
    for (const QuickString& p : layout.paths)
        if (selected.contains(p)) out.push_back(p);
    return out;
}

bool TileGridController::acceptsDrop(const std::vector<QuickString>& paths) const {
    NodePtr node = currentNode();
    if (!node || paths.empty()) return false;
    if (!has(node->kind, NodeKind::tag) && !has(node->kind, NodeKind::directory)) return false;
    // Files already listed here (the grid's own, dragged over itself) would
    // be tagged or moved to where they are: nothing to do.
    const Node::Paths& listed = node->resolvedPaths();
    return std::any_of(paths.begin(), paths.end(), [&](const QuickString& p) { return !listed.contains(p); });
}

std::optional<DropOperation> TileGridController::dropOperation(bool isFolder, bool sameFileSystem,
                                                               const DropInfo& drop) {
    if (!isFolder) return DropOperation::copy;
    return drop.operationFor(sameFileSystem);
}

std::optional<DropOperation> TileGridController::DropPlan::operation(const DropInfo& drop) const {
    if (!accepted) return std::nullopt;
    return dropOperation(isFolder, sameFileSystem, drop);
}

TileGridController::DropPlan TileGridController::planDrop(const DropInfo& drop) const {
    DropPlan plan;
    const std::vector<QuickString> paths = drop.filePaths();
    if (!acceptsDrop(paths)) return plan;
    NodePtr node = currentNode();
    plan.isFolder = !has(node->kind, NodeKind::tag);
    if (plan.isFolder) {
        std::optional<std::string> folder = folderPathForNode(node->fullName);
        if (!folder) return plan;
        FileOperations& files = *window_->context().fileOperations;
        for (const QuickString& p : paths)
            plan.sameFileSystem = plan.sameFileSystem && files.isOnSameFileSystem(std::string(p.utf8()), *folder);
    }
    plan.accepted = dropOperation(plan.isFolder, plan.sameFileSystem, drop).has_value();
    return plan;
}

bool TileGridController::drop(const DropInfo& drop, DropOperation* performed) const {
    if (!acceptsDrop(drop.filePaths())) return false;
    return window_->commandStack()->performDrop(currentNode(), drop, false, performed);
}

// ---- Reveal ----

TileEffects TileGridController::reveal(const NodePath& nodePath, const QuickStringSet& paths, double width) {
    NodePtr node = window_->context().db->tree().lookup(nodePath);
    if (node) {
        QuickStringSet expanded = window_->isExpanded();
        bool changed = false;
        for (NodePtr up = node->parent(); up; up = up->parent()) {
            if (!expanded.insert(up->fullName).second) break;
            changed = true;
        }
        if (changed) window_->setIsExpanded(std::move(expanded));
    }
    window_->setCurrentNode(nodePath);
    pending_.reset();
    TileEffects effects = revealIn(layout(width), paths);
    // Not listed yet (a folder the scan has still to read): scrolled to and
    // selected once its listing arrives.
    if (effects.empty() && !paths.empty()) pending_ = PendingReveal{nodePath, paths};
    return effects;
}

TileEffects TileGridController::revealIn(const TileGridLayout& layout, const QuickStringSet& paths) {
    TileEffect e = effect(TileEffect::Kind::revealIndices);
    for (size_t i = 0; i < layout.count(); ++i)
        if (paths.contains(layout.paths[i])) e.indices.push_back(i);
    if (e.indices.empty()) return {};
    return {e};
}

TileEffects TileGridController::pendingReveal(const TileGridLayout& layout) {
    if (!pending_) return {};
    if (pending_->node != window_->currentNode()) {
        pending_.reset();
        return {};
    }
    TileEffects effects = revealIn(layout, pending_->paths);
    if (effects.empty()) return {};
    QuickStringSet paths = std::move(pending_->paths);
    pending_.reset();
    setSelection(paths);
    return effects;
}

void TileGridController::currentNodeChanged() {
    const auto& db = window_->context().db;
    const NodePath& node = window_->currentNode();
    if (db && node.size() > 1 && nodePathStartsWith(node, db->tree().directoriesNode()->nodePath()))
        db->openDirectories({fullNameForNodePath(node)});
    typeAhead_.reset();
    if (pending_ && pending_->node != node) pending_.reset();
}

}  // namespace qm
