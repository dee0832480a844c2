#include "commands/CommandStack.h"

#include "commands/BrowserState.h"
#include "commands/TagChangeBuilder.h"
#include "commands/TagChangeCommand.h"
#include "core/Log.h"
#include "library/DB.h"
#include "library/Tree.h"
#include "library/TreeNames.h"

namespace qm {

void CommandStack::performCommand(const CommandPtr& command, std::optional<NodePath> node,
                                  std::optional<QuickStringSet> selection) {
    auto window = appWindow.lock();
    if (!window || !command) return;
    NodePath nodeAfter = node ? std::move(*node) : window->currentNode();
    QuickStringSet selectionAfter = selection ? std::move(*selection) : window->currentSelection();
    CommandOutcome outcome = command->run(window->context());
    // A command that did nothing leaves nothing to undo, and the redo steps
    // still apply to the unchanged state.
    if (!outcome.changedNothing) {
        undoStack_.push_back(CommandItem{outcome.inverse, command->menuText(), nodeAfter, window->currentNode(),
                                        selectionAfter, window->currentSelection()});
        redoStack_.clear();
    }
    window->setCurrentNode(nodeAfter);
    window->setCurrentSelection(selectionAfter);
    logLine(LogArea::run, command->debugDescription());
    commandDidRun.emit(outcome.statusText);
}

void CommandStack::step(std::vector<CommandItem>& from, std::vector<CommandItem>& to, const char* label) {
    auto window = appWindow.lock();
    if (!window || from.empty()) return;
    CommandItem item = std::move(from.back());
    from.pop_back();
    CommandOutcome outcome = item.command->run(window->context());
    to.push_back(CommandItem{outcome.inverse, item.menuText, item.nodeAfter, item.nodeBefore, item.selectionAfter,
                             item.selectionBefore});
    window->setCurrentNode(item.nodeAfter);
    window->setCurrentSelection(item.selectionAfter);
    logLine(LogArea::run, label + item.command->debugDescription());
    commandDidRun.emit(outcome.statusText);
}

void CommandStack::undo() {
    step(undoStack_, redoStack_, "Undo: ");
}

void CommandStack::redo() {
    step(redoStack_, undoStack_, "Redo: ");
}

std::optional<std::string> CommandStack::undoMenuTitle() const {
    if (undoStack_.empty()) return std::nullopt;
    return "Undo " + undoStack_.back().menuText;
}

std::optional<std::string> CommandStack::redoMenuTitle() const {
    if (redoStack_.empty()) return std::nullopt;
    return "Redo " + redoStack_.back().menuText;
}

void CommandStack::performTagTreeChange(TagChangeKind kind, const NodePath& source,
                                        const std::optional<NodePath>& destination) {
    auto window = appWindow.lock();
    if (!window) return;
    const Tree& tree = window->context().db->tree();
    NodePtr node = tree.lookup(source);
    NodePtr parent = node ? node->parent() : nullptr;
    if (!parent || !has(parent->kind, NodeKind::tagContainer)) return;

    TagChangeBuilder builder;
    std::set<std::string> nodesToTrim, nodesToMake;
    // Children first, so a subtree's leaves are handled before their parents.
    std::function<void(const NodePtr&, NodePath&, NodePath*)> walk = [&](const NodePtr& at, NodePath& s,
                                                                         NodePath* d) {
        for (const NodePtr& child : at->sortedChildren()) {
            s.push_back(child->name);
            if (d) d->push_back(child->name);
            walk(child, s, d);
            s.pop_back();
            if (d) d->pop_back();
        }
        std::optional<std::string> tag = TagFormat::tagForNodeName(fullNameForNodePath(s));
        std::optional<std::string> newTag;
        if (tag) nodesToTrim.insert(*tag);
        if (d) {
            newTag = TagFormat::tagForNodeName(fullNameForNodePath(*d));
            if (newTag) nodesToMake.insert(*newTag);
        }
        for (const QuickString& path : at->sortedPaths()) {
            if (tag) builder.removeTag(path, *tag);
            if (newTag) builder.addTag(path, *newTag);
        }
    };
    NodePath s = source;
    std::optional<NodePath> d = destination;
    walk(node, s, d ? &*d : nullptr);

    // A parent tag is protected in both directions so neither prunes it.
    auto protectParent = [&](const NodePath& path) {
        if (path.size() < 2) return;
        NodePath up(path.begin(), path.end() - 1);
        if (std::optional<std::string> tag = TagFormat::tagForNodeName(fullNameForNodePath(up))) {
            nodesToTrim.insert(*tag);
            nodesToMake.insert(*tag);
        }
    };
    protectParent(source);
    if (destination) protectParent(*destination);

    NodePath nodeAfter = destination ? *destination : NodePath(source.begin(), source.end() - 1);
    performCommand(std::make_shared<TagChangeCommand>(kind, kind, builder.build(), std::move(nodesToTrim),
                                                      std::move(nodesToMake)),
                   std::move(nodeAfter), std::nullopt);
}

void CommandStack::performPinChange(const QuickString& fullName, PinAction action) {
    auto window = appWindow.lock();
    if (!window) return;
    NodePath tagPath = nodePathForFullName(fullName);
    std::optional<NodePath> nodeAfter;
    if (!tagPath.empty() && tagPath[0] == tagsSectionName()) {
        std::string_view name = fullName.utf8();
        std::string_view rest = name.size() > 5 ? name.substr(5) : std::string_view();
        NodePath pinPath{pinnedSectionName(), QuickString::bytes(rest)};
        if (action == PinAction::pinTag && window->currentNode() == tagPath) nodeAfter = pinPath;
        if (action == PinAction::unpinTag && window->currentNode() == pinPath) nodeAfter = tagPath;
    } else if (fullName.utf8().starts_with("Queries/")) {
        // A query's text is one name, "/" and all.
        const std::string_view text = fullName.utf8().substr(8);
        NodePath queryPath = TreeQueries::pathFor(text);
        NodePath pinPath{pinnedSectionName(), QuickString::bytes(text)};
        if (action == PinAction::pinTag && window->currentNode() == queryPath) nodeAfter = pinPath;
        if (action == PinAction::unpinTag && window->currentNode() == pinPath) nodeAfter = queryPath;
    }
    performCommand(std::make_shared<AlterPinCommand>(fullName, action), std::move(nodeAfter), std::nullopt);
}

}  // namespace qm
