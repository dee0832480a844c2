#include "commands/BrowserState.h"

#include <algorithm>

#include "commands/CommandStack.h"
#include "library/DB.h"
#include "library/Tree.h"

namespace qm {

std::shared_ptr<BrowserState> BrowserState::create(CommandContext context) {
    std::shared_ptr<BrowserState> state(new BrowserState(std::move(context)));
    state->commandStack_ = std::make_shared<CommandStack>(state);
    if (state->context_.db) {
        BrowserState* self = state.get();
        state->treeChangedSubscription_ = state->context_.db->treeChanged.subscribe([self] {
            if (!self->isFirstTreeChanged_) return;
            self->isFirstTreeChanged_ = false;
            self->treeChangedSubscription_.reset();
            self->loadExpandedFolders();
        });
    }
    return state;
}

BrowserState::BrowserState(CommandContext context) : context_(std::move(context)) {
    if (context_.db) {
        const Tree& tree = context_.db->tree();
        for (const NodePtr& n :
             {tree.rootNode(), tree.pinnedNode(), tree.colorsNode(), tree.directoriesNode(), tree.tagsNode()})
            isExpanded_.insert(n->fullName);
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
    if (historyButtonsChanged) historyButtonsChanged(!backHistory_.empty(), !forwardHistory_.empty());
}

void BrowserState::setCurrentNode(const NodePath& node) {
    if (node == currentNode_) return;
    HistoryScrollState scroll = capture();
    NodePath oldNode = currentNode_;
    QuickStringSet oldSelection = currentSelection_;
    if (!currentSelection_.empty()) {
        currentSelection_.clear();
        updateTitle();
        currentSelectionChanged.emit();
        invalidate();
    }
    // A query is made (or brought back after a restart) when a window goes
    // to it, by a click, history or a restored archive alike.
    if (auto query = TreeQueries::textOf(node); query && context_.db) context_.db->openQuery(*query);
    currentNode_ = node;
    updateTitle();
    currentNodeChanged.emit();
    if (!isNavigatingHistory_) {
        // Going back should not jump the sidebar to where it was scrolled.
        scroll.sidebar.reset();
        backHistory_.push_back(HistoryEntry{std::move(oldNode), std::move(oldSelection), std::move(scroll)});
        forwardHistory_.clear();
        updateHistoryButtons();
    }
    invalidate();
}

void BrowserState::setCurrentSelection(const QuickStringSet& selection) {
    if (selection == currentSelection_) return;
    currentSelection_ = selection;
    updateTitle();
    currentSelectionChanged.emit();
    invalidate();
}

void BrowserState::setMapResults(std::optional<std::vector<QuickString>> results) {
    bool changed = results != mapResults_;
    mapResults_ = std::move(results);
    if (changed) mapResultsChanged.emit();
}

void BrowserState::setIsExpanded(QuickStringSet expanded) {
    if (expanded == isExpanded_) return;
    isExpanded_ = std::move(expanded);
    isExpandedChanged.emit();
    invalidate();
}

void BrowserState::setExpanded(const QuickString& fullName, bool expanded) {
    QuickStringSet next = isExpanded_;
    if (expanded)
        next.insert(fullName);
    else
        next.erase(fullName);
    setIsExpanded(std::move(next));
}

void BrowserState::navigateHistory(HistoryDirection direction) {
    std::vector<HistoryEntry>& from = direction == HistoryDirection::back ? backHistory_ : forwardHistory_;
    std::vector<HistoryEntry>& to = direction == HistoryDirection::back ? forwardHistory_ : backHistory_;
    if (from.empty()) return;
    HistoryEntry entry = std::move(from.back());
    from.pop_back();
    if (entry.node == currentNode_) {
        updateHistoryButtons();
        return;
    }
    isNavigatingHistory_ = true;
    to.push_back(HistoryEntry{currentNode_, currentSelection_, capture()});
    setCurrentNode(entry.node);
    setCurrentSelection(entry.selection);
    isNavigatingHistory_ = false;
    updateHistoryButtons();
    if (restoreScrollState) restoreScrollState(entry.scrollState);
}

void BrowserState::applyInitialNode(const NodePath& node, const QuickStringSet& selection) {
    isNavigatingHistory_ = true;
    setCurrentNode(node);
    setCurrentSelection(selection);
    isNavigatingHistory_ = false;
}

void BrowserState::loadExpandedFolders() {
    if (!context_.db) return;
    NodePath folders = context_.db->tree().directoriesNode()->nodePath();
    std::vector<QuickString> names;
    for (const QuickString& fullName : isExpanded_)
        if (nodePathStartsWith(nodePathForFullName(fullName), folders)) names.push_back(fullName);
    if (nodePathStartsWith(currentNode_, folders)) {
        QuickString current = fullNameForNodePath(currentNode_);
        if (!isExpanded_.contains(current)) names.push_back(current);
    }
    std::sort(names.begin(), names.end());
    context_.db->openDirectories(names);
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
    std::string title = titleFor(currentNode_);
    std::string subtitle = subtitleFor(currentSelection_);
    if (title == title_ && subtitle == subtitle_) return;
    title_ = std::move(title);
    subtitle_ = std::move(subtitle);
    if (titleChanged) titleChanged();
}

}  // namespace qm
