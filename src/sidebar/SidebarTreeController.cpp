#include "sidebar/SidebarTreeController.h"

#include <algorithm>

#include "commands/BrowserState.h"
#include "core/TagFormat.h"
#include "library/DB.h"
#include "library/Tree.h"
#include "sidebar/SidebarExpansion.h"
#include "sidebar/SidebarLayout.h"

namespace qm {

SidebarTreeController::SidebarTreeController(std::shared_ptr<BrowserState> window, std::shared_ptr<DB> db,
                                             TypeNavigation::Clock clock)
    : window_(std::move(window)), db_(std::move(db)), typeNavigation_(std::move(clock)) {}

const SidebarRows& SidebarTreeController::rows() {
    if (rowsDirty_) {
        if (db_)
            rows_.rebuild(*db_->tree().rootNode(), window_->isExpanded());
        else
            rows_ = SidebarRows();
        rowsDirty_ = false;
        currentRowCache_.reset();
    }
    return rows_;
}

void SidebarTreeController::invalidateRows() {
    rowsDirty_ = true;
    currentRowCache_.reset();
}

std::optional<size_t> SidebarTreeController::currentRow() {
    const SidebarRows& r = rows();
    if (!currentRowCache_)
        currentRowCache_ = db_ ? r.indexOfPath(*db_->tree().rootNode(), window_->currentNode()) : std::nullopt;
    return *currentRowCache_;
}

NodePtr SidebarTreeController::currentNode() {
    const NodePath& path = window_->currentNode();
    if (!db_ || path.empty()) return nullptr;
    return db_->tree().lookup(path);
}

void SidebarTreeController::navigate(const Node& node) {
    window_->setCurrentNode(node.nodePath());
}

bool SidebarTreeController::commitTypeNavigation() {
    if (!typeNavigation_.node) return false;
    NodePtr node = typeNavigation_.node;
    typeNavigation_.reset();
    navigate(*node);
    return true;
}

void SidebarTreeController::setExpanded(const Node& node, bool expand, bool recursive) {
    if (!db_) return;
    SidebarExpansion::change(*window_, *db_, node, expand, recursive);
}

SidebarTreeController::KeyOutcome SidebarTreeController::key(SidebarTreeKey key, bool command, bool recursive) {
    KeyOutcome out;
    if (!db_) {
        out.handled = false;
        return out;
    }
    switch (key) {
    case SidebarTreeKey::commit:
        out.redraw = commitTypeNavigation();
        return out;
    case SidebarTreeKey::escape:
        out.redraw = !typeNavigation_.isReset();
        typeNavigation_.reset();
        return out;
    case SidebarTreeKey::rename:
        out.trigger = renameAction();
        return out;
    case SidebarTreeKey::left: {
        out.redraw = commitTypeNavigation();
        const NodePath path = window_->currentNode();
        NodePtr node = currentNode();
        if (node && SidebarRows::isExpandable(*node) && window_->isExpanded().contains(node->fullName)) {
            setExpanded(*node, false, recursive);
            out.expansionChanged = node.get();
        } else if (path.size() >= 2) {
            window_->setCurrentNode(NodePath(path.begin(), path.end() - 1));
            if (auto row = currentRow()) out.reveal = SidebarRowSpan{*row, 1};
        }
        return out;
    }
    case SidebarTreeKey::right:
    case SidebarTreeKey::expandSubtree: {
        out.redraw = commitTypeNavigation();
        NodePtr node = currentNode();
        // The recursive form also opens the collapsed rows below an open one.
        const bool subtree = recursive || key == SidebarTreeKey::expandSubtree;
        if (node && SidebarRows::isExpandable(*node) &&
            (subtree || !window_->isExpanded().contains(node->fullName))) {
            setExpanded(*node, true, subtree);
            out.expansionChanged = node.get();
            if (auto row = currentRow())
                out.reveal = SidebarRowSpan{*row, node->visibleRowCount(window_->isExpanded())};
        }
        return out;
    }
    case SidebarTreeKey::down:
    case SidebarTreeKey::up: {
        out.redraw = commitTypeNavigation();
        // The row list is the neighbour walk of the tree, already laid out.
        const bool down = key == SidebarTreeKey::down;
        const SidebarRows& r = rows();
        if (r.empty()) return out;
        const std::optional<size_t> at = currentRow();
        const size_t lastRow = r.size() - 1;
        size_t next;
        if (command)
            next = down ? lastRow : 0;
        else if (!at)
            next = down ? 0 : lastRow;
        else
            next = down ? std::min(*at + 1, lastRow) : (*at ? *at - 1 : 0);
        navigate(*r[next].node);
        if (auto row = currentRow()) out.reveal = SidebarRowSpan{*row, 1};
        return out;
    }
    }
    return out;
}

SidebarTreeController::KeyOutcome SidebarTreeController::typeCharacters(std::string_view characters) {
    KeyOutcome out;
    const SidebarRows& r = rows();
    std::vector<const Node*> visible;
    visible.reserve(r.size());
    for (const SidebarRow& row : r.rows()) visible.push_back(row.node.get());
    NodePtr before = typeNavigation_.node;
    if (auto hit = typeNavigation_.type(characters, visible, currentRow())) out.reveal = SidebarRowSpan{*hit, 1};
    out.redraw = typeNavigation_.node != before;
    return out;
}

SidebarTreeController::Click SidebarTreeController::leftClick(size_t row, double x, bool recursive) {
    const SidebarRows& r = rows();
    if (row >= r.size()) return Click::none;
    const SidebarRow hit = r[row];
    if (x >= SidebarLayout::disclosureBoundary(hit.depth)) {
        typeNavigation_.reset();
        navigate(*hit.node);
        return Click::selected;
    }
    if (!SidebarRows::isExpandable(*hit.node)) return Click::none;
    setExpanded(*hit.node, !window_->isExpanded().contains(hit.node->fullName), recursive);
    return Click::toggled;
}

void SidebarTreeController::rightClick(size_t row) {
    const SidebarRows& r = rows();
    if (row >= r.size()) return;
    typeNavigation_.reset();
    navigate(*r[row].node);
}

std::optional<std::string> SidebarTreeController::draggedTag(size_t row) {
    const SidebarRows& r = rows();
    if (row >= r.size()) return std::nullopt;
    NodePtr parent = r[row].node->parent();
    if (!parent || !has(parent->kind, NodeKind::tagContainer)) return std::nullopt;
    return TagFormat::tagForNodeName(r[row].node->fullName);
}

std::optional<SidebarAction> SidebarTreeController::renameAction() {
    NodePtr node = currentNode();
    if (!node) return std::nullopt;
    NodePtr parent = node->parent();
    if (parent && has(parent->kind, NodeKind::tagContainer)) return SidebarAction::renameCurrentTag;
    if (has(node->kind, NodeKind::directory) && window_->currentNode().size() >= 2)
        return SidebarAction::renameCurrentFolder;
    if (node->isQuery() && db_ && db_->tree().queries().isSaved(*node)) return SidebarAction::renameQuery;
    return std::nullopt;
}

std::vector<SidebarMenuItem> SidebarTreeController::menu() {
    if (!db_) return {};
    return SidebarActions::menuFor(db_->tree(), window_->currentNode());
}

std::optional<SidebarEdit> SidebarTreeController::beginEdit(SidebarAction action) {
    NodePtr node = currentNode();
    if (!node) return std::nullopt;
    auto prompt = SidebarActions::promptFor(action, window_->currentNode(), node->displayName().string());
    if (!prompt) return std::nullopt;
    SidebarEdit edit{action, window_->currentNode(), node, std::move(*prompt),
                     action == SidebarAction::addNewTag || action == SidebarAction::addNewFolder};
    if (!editorPlace(edit)) return std::nullopt;
    return edit;
}

bool SidebarTreeController::isAlive(const SidebarEdit& edit) {
    NodePtr node = edit.node.lock();
    return node && db_ && db_->tree().lookup(edit.path) == node;
}

std::optional<SidebarTreeController::EditorPlace> SidebarTreeController::editorPlace(const SidebarEdit& edit) {
    if (!isAlive(edit)) return std::nullopt;
    NodePtr node = edit.node.lock();
    auto row = rows().indexOf(node.get());
    if (!row) return std::nullopt;
    const int depth = rows()[*row].depth;
    if (edit.isNew) return EditorPlace{*row + 1, depth + 1};
    return EditorPlace{*row, depth};
}

std::string SidebarTreeController::commit(const SidebarEdit& edit, std::string_view text) {
    if (!isAlive(edit)) return {};
    return SidebarActions::submit(*window_, edit.action, edit.path, text);
}

}  // namespace qm
