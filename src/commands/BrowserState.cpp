#include "commands/BrowserState.h"

#include <algorithm>

#include "commands/CommandStack.h"
#include "library/DB.h"
#include "library/Tree.h"

namespace qm {

std::shared_ptr<BrowserState> BrowserState::create(CommandContext context) {
    std::shared_ptr<BrowserState> state(new BrowserState(std::move(context)));
    state->_commandStack = std::make_shared<CommandStack>(state);
    if (state->_context.db) {
        BrowserState* self = state.get();
        state->_treeChangedSubscription = state->_context.db->treeChanged.subscribe([self] {
            if (!self->_isFirstTreeChanged) return;
            self->_isFirstTreeChanged = false;
            self->_treeChangedSubscription.reset();
            self->loadExpandedFolders();
        });
    }
    return state;
}

BrowserState::BrowserState(CommandContext context) : _context(std::move(context)) {
    if (_context.db) {
        const Tree& tree = _context.db->tree();
        for (const NodePtr& n :
             {tree.rootNode(), tree.pinnedNode(), tree.colorsNode(), tree.directoriesNode(), tree.tagsNode()})
            _isExpanded.insert(n->fullName);
    }
    updateTitle();
}

HistoryScrollState BrowserState::capture() const {
    return captureScrollState ? captureScrollState() : HistoryScrollState{};
}

void BrowserState::invalidate() {
    if (invalidateRestorableState) invalidateRestorableState();
}

void BrowserState::updateHistoryButtons() {
    if (historyButtonsChanged) historyButtonsChanged(!_backHistory.empty(), !_forwardHistory.empty());
}

void BrowserState::setCurrentNode(const NodePath& node) {
    if (node == _currentNode) return;
    HistoryScrollState scroll = capture();
    NodePath oldNode = _currentNode;
    QuickStringSet oldSelection = _currentSelection;
    if (!_currentSelection.empty()) {
        _currentSelection.clear();
        updateTitle();
        currentSelectionChanged.emit();
        invalidate();
    }
    // A query is made (or brought back after a restart) when a window goes
    // to it, by a click, history or a restored archive alike.
    if (auto query = TreeQueries::textOf(node); query && _context.db) _context.db->openQuery(*query);
    _currentNode = node;
    updateTitle();
    currentNodeChanged.emit();
    if (!_isNavigatingHistory) {
        // Going back should not jump the sidebar to where it was scrolled.
        scroll.sidebar.reset();
        _backHistory.push_back(HistoryEntry{std::move(oldNode), std::move(oldSelection), std::move(scroll)});
        _forwardHistory.clear();
        updateHistoryButtons();
    }
    invalidate();
}

void BrowserState::setCurrentSelection(const QuickStringSet& selection) {
    if (selection == _currentSelection) return;
    _currentSelection = selection;
    updateTitle();
    currentSelectionChanged.emit();
    invalidate();
}

void BrowserState::setMapResults(std::optional<std::vector<QuickString>> results) {
    bool changed = results != _mapResults;
    _mapResults = std::move(results);
    if (changed) mapResultsChanged.emit();
}

void BrowserState::setIsExpanded(QuickStringSet expanded) {
    if (expanded == _isExpanded) return;
    _isExpanded = std::move(expanded);
    isExpandedChanged.emit();
    invalidate();
}

void BrowserState::setExpanded(const QuickString& fullName, bool expanded) {
    QuickStringSet next = _isExpanded;
    if (expanded)
        next.insert(fullName);
    else
        next.erase(fullName);
    setIsExpanded(std::move(next));
}

void BrowserState::navigateHistory(HistoryDirection direction) {
    std::vector<HistoryEntry>& from = direction == HistoryDirection::back ? _backHistory : _forwardHistory;
    std::vector<HistoryEntry>& to = direction == HistoryDirection::back ? _forwardHistory : _backHistory;
    if (from.empty()) return;
    HistoryEntry entry = std::move(from.back());
    from.pop_back();
    if (entry.node == _currentNode) {
        updateHistoryButtons();
        return;
    }
    _isNavigatingHistory = true;
    to.push_back(HistoryEntry{_currentNode, _currentSelection, capture()});
    setCurrentNode(entry.node);
    setCurrentSelection(entry.selection);
    _isNavigatingHistory = false;
    updateHistoryButtons();
    if (restoreScrollState) restoreScrollState(entry.scrollState);
}

void BrowserState::applyInitialNode(const NodePath& node, const QuickStringSet& selection) {
    _isNavigatingHistory = true;
    setCurrentNode(node);
    setCurrentSelection(selection);
    _isNavigatingHistory = false;
}

void BrowserState::loadExpandedFolders() {
    if (!_context.db) return;
    NodePath folders = _context.db->tree().directoriesNode()->nodePath();
    std::vector<QuickString> names;
    for (const QuickString& fullName : _isExpanded)
        if (nodePathStartsWith(nodePathForFullName(fullName), folders)) names.push_back(fullName);
    if (nodePathStartsWith(_currentNode, folders)) {
        QuickString current = fullNameForNodePath(_currentNode);
        if (!_isExpanded.contains(current)) names.push_back(current);
    }
    std::sort(names.begin(), names.end());
    _context.db->openDirectories(names);
}

std::string BrowserState::titleFor(const NodePath& node) {
    if (node.empty()) return "Quillomere";
    if (TreeQueries::textOf(node)) return TreeQueries::titleFor(node[1].string());
    std::string title(node[0].string());
    if (node.size() == 1) return title;
    title += ": ";
    for (size_t i = 1; i < node.size(); ++i) {
        if (i > 1) title += '/';
        title += node[i].string();
    }
    return title;
}

namespace {

// Length of a control character (C0, DEL or C1) at the start or end of UTF-8.
size_t leadingControl(std::string_view s) {
    if (s.empty()) return 0;
    unsigned char c = static_cast<unsigned char>(s[0]);
    if (c < 0x20 || c == 0x7f) return 1;
    if (c == 0xC2 && s.size() >= 2 && static_cast<unsigned char>(s[1]) >= 0x80 &&
        static_cast<unsigned char>(s[1]) <= 0x9F)
        return 2;
    return 0;
}

size_t trailingControl(std::string_view s) {
    if (s.empty()) return 0;
    unsigned char c = static_cast<unsigned char>(s.back());
    if (c < 0x20 || c == 0x7f) return 1;
    if (s.size() >= 2 && static_cast<unsigned char>(s[s.size() - 2]) == 0xC2 && c >= 0x80 && c <= 0x9F)
        return 2;
    return 0;
}

}  // namespace

std::string BrowserState::subtitleFor(const QuickStringSet& selection) {
    if (selection.size() >= 2) return std::to_string(selection.size()) + " selected";
    if (selection.size() != 1) return {};
    const QuickString& path = *selection.begin();
    const std::string& home = homeDirectoryWithSlash();
    if (home.empty() || !path.startsWith(home)) return {};
    std::string_view text = path.string().substr(home.size());
    while (size_t n = leadingControl(text))
        text.remove_prefix(n);
    while (size_t n = trailingControl(text))
        text.remove_suffix(n);
    return std::string(text);
}

void BrowserState::updateTitle() {
    std::string title = titleFor(_currentNode);
    std::string subtitle = subtitleFor(_currentSelection);
    if (title == _title && subtitle == _subtitle) return;
    _title = std::move(title);
    _subtitle = std::move(subtitle);
    if (titleChanged) titleChanged();
}

}  // namespace qm
