#include "sidebar/SidebarActions.h"

#include <memory>
#include <set>

#include "commands/BrowserState.h"
#include "commands/CommandStack.h"
#include "commands/MoveFilesCommand.h"
#include "commands/NewSubdirectoryCommand.h"
#include "commands/SavedQueryCommand.h"
#include "commands/TagChangeCommand.h"
#include "commands/ToTrashCommand.h"
#include "library/DB.h"
#include "library/Tree.h"
#include "library/TreeNames.h"
#include "sidebar/SidebarExpansion.h"

namespace qm {

const char* const SidebarActions::folderSlashMessage = "The folder name cannot contain a \"/\" character";
const char* const SidebarActions::folderDotMessage = "The folder name cannot start with a \".\" character";

namespace {

std::string joinedAfterFirst(const NodePath& path) {
    std::string out;
    for (size_t i = 1; i < path.size(); ++i) {
        if (i > 1) out += '/';
        out += path[i].string();
    }
    return out;
}

std::string inQuotes(std::string_view s) {
    return "\"" + std::string(s) + "\"";
}

NodePath withLast(NodePath path, const std::string& name) {
    path.back() = QuickString::bytes(name);
    return path;
}

NodePath appended(NodePath path, const std::string& name) {
    path.push_back(QuickString::bytes(name));
    return path;
}

// "Tags/" and the components after the first: the tag a Tags or Pinned path stands for.
QuickString tagFullName(const NodePath& path) {
    std::string s = "Tags";
    for (size_t i = 1; i < path.size(); ++i) {
        s += '/';
        s += path[i].utf8();
    }
    return QuickString::bytes(s);
}

// "Queries/" and a query's text: what its pin is kept as.
QuickString queryFullName(const Node& node) {
    return QuickString::bytes("Queries/" + std::string(node.name.utf8()));
}

bool isTagsOrPinned(const NodePath& path) {
    return !path.empty() && (path[0] == tagsSectionName() || path[0] == pinnedSectionName());
}

std::string checkTagName(const std::string& name) {
    return TagNameInput::refusalForLevel(name);
}

std::string checkFolderName(const std::string& name) {
    if (name.find('/') != std::string::npos) return SidebarActions::folderSlashMessage;
    if (name.starts_with('.')) return SidebarActions::folderDotMessage;
    return {};
}

}  // namespace

std::string SidebarActions::trimmed(std::string_view text) {
    return TagNameInput::trimmed(text);
}

std::vector<SidebarMenuItem> SidebarActions::menuFor(const Tree& tree, const NodePath& path) {
    std::vector<SidebarMenuItem> items;
    NodePtr node = path.empty() ? nullptr : tree.lookup(path);
    if (!node) return items;
    NodePtr parent = node->parent();
    if (has(node->kind, NodeKind::directory)) {
        items.push_back({path.size() == 1 ? "New Folder" : "New Subfolder", SidebarAction::addNewFolder});
        if (path.size() >= 2) {
            items.push_back({"Rename Folder", SidebarAction::renameCurrentFolder});
            items.push_back({"Move to Trash", SidebarAction::deleteCurrentFolder});
        }
    }
    if (has(node->kind, NodeKind::tagContainer))
        items.push_back({path.size() == 1 ? "New Tag" : "New Subtag", SidebarAction::addNewTag});
    if (parent && has(parent->kind, NodeKind::tagContainer)) {
        items.push_back({"Rename Tag", SidebarAction::renameCurrentTag});
        items.push_back({"Delete Tag", SidebarAction::deleteCurrentTag});
    }
    if (parent && has(parent->kind, NodeKind::tag))
        items.push_back({"Merge into Parent Tag", SidebarAction::mergeIntoParentTag});
    if (has(node->kind, NodeKind::tag) && isTagsOrPinned(path)) {
        bool pinned = tree.isPinned(tagFullName(path));
        items.push_back(pinned ? SidebarMenuItem{"Unpin Tag", SidebarAction::unpinCurrentTag}
                               : SidebarMenuItem{"Pin Tag", SidebarAction::pinCurrentTag});
    }
    if (has(node->kind, NodeKind::tag) || has(node->kind, NodeKind::directory))
        items.push_back({"Show in File Manager", SidebarAction::showInFileManager});
    if (node->isQuery() && !node->isPinReference() && tree.queries().isSaved(*node)) {
        items.push_back({"Rename Query", SidebarAction::renameQuery});
        items.push_back({"Remove Query", SidebarAction::removeQuery});
        items.push_back(tree.isPinned(queryFullName(*node)) ? SidebarMenuItem{"Unpin Query", SidebarAction::unpinQuery}
                                                            : SidebarMenuItem{"Pin Query", SidebarAction::pinQuery});
    }
    if (node->kind == NodeKind::queryPin) items.push_back({"Unpin Query", SidebarAction::unpinQuery});
    return items;
}

std::optional<SidebarPrompt> SidebarActions::promptFor(SidebarAction action, const NodePath& path,
                                                       std::string_view shownName) {
    if (path.empty()) return std::nullopt;
    std::string last(path.back().string());
    switch (action) {
    case SidebarAction::renameQuery: {
        std::string name = shownName.empty() ? last : std::string(shownName);
        return SidebarPrompt{"Enter the new name for the query " + inQuotes(name) + ":", "Rename Query", name};
    }
    case SidebarAction::renameCurrentTag:
        return SidebarPrompt{"Enter the new name for the tag " + inQuotes(last) + ":", "Rename Tag", last};
    case SidebarAction::renameCurrentFolder:
        return SidebarPrompt{"Enter the new name for the folder " + inQuotes(last) + ":", "Rename Folder", last};
    case SidebarAction::addNewTag:
        if (path.size() >= 2)
            return SidebarPrompt{"Enter the name for the new subtag inside the tag " +
                                     inQuotes(joinedAfterFirst(path)) + ":",
                                 "Create Subtag", ""};
        return SidebarPrompt{"Enter the name for the new tag:", "Create Tag", ""};
    case SidebarAction::addNewFolder:
        if (path.size() >= 2)
            return SidebarPrompt{"Enter the name for the new subfolder inside the folder " +
                                     inQuotes(joinedAfterFirst(path)) + ":",
                                 "Create Subfolder", ""};
        return SidebarPrompt{"Enter the name for the new folder:", "Create Folder", ""};
    default:
        return std::nullopt;
    }
}

std::string SidebarActions::submit(BrowserState& window, SidebarAction action, std::string_view text) {
    return submit(window, action, NodePath(window.currentNode()), text);
}

std::string SidebarActions::submit(BrowserState& window, SidebarAction action, const NodePath& path,
                                   std::string_view text) {
    std::string name = trimmed(text);
    if (name.empty() || path.empty()) return {};
    CommandStack& stack = *window.commandStack();
    DB& db = *window.context().db;
    switch (action) {
    case SidebarAction::renameCurrentTag: {
        // The editor shows undecodable bytes as U+FFFD; unchanged text keeps the name.
        if (name == path.back().string() || name == path.back().utf8()) return {};
        if (std::string refusal = checkTagName(name); !refusal.empty()) return refusal;
        stack.performTagTreeChange(TagChangeKind::reparent, path, withLast(path, name));
        return {};
    }
    case SidebarAction::renameCurrentFolder: {
        if (path.size() < 2 || name == path.back().string() || name == path.back().utf8()) return {};
        if (std::string refusal = checkFolderName(name); !refusal.empty()) return refusal;
        NodePath newPath = withLast(path, name);
        auto from = folderPathForNode(fullNameForNodePath(path));
        auto to = folderPathForNode(fullNameForNodePath(newPath));
        if (!from || !to) return {};
        stack.performCommand(std::make_shared<MoveFilesCommand>(MoveFilesCommand::Pairs{{*from, *to}}), newPath);
        return {};
    }
    case SidebarAction::addNewTag: {
        if (std::string refusal = checkTagName(name); !refusal.empty()) return refusal;
        auto tag = TagFormat::tagForNodeName(fullNameForNodePath(appended(path, name)));
        if (!tag) return {};
        NodePath target = nodePathForFullName(db.format->nodeNameForTag(*tag));
        if (db.tree().lookup(target)) {
            window.setCurrentNode(target);
            return {};
        }
        if (NodePtr current = db.tree().lookup(path)) SidebarExpansion::change(window, db, *current, true, false);
        std::set<std::string> trim;
        if (size_t slash = tag->rfind('/'); slash != std::string::npos) trim.insert(tag->substr(0, slash));
        stack.performCommand(std::make_shared<TagChangeCommand>(TagChangeKind::create, TagChangeKind::create,
                                                                std::vector<TagChange>{}, std::move(trim),
                                                                std::set<std::string>{*tag}),
                             target, QuickStringSet{});
        return {};
    }
    case SidebarAction::renameQuery: {
        NodePtr node = db.tree().lookup(path);
        if (!node || !node->isQuery() || !db.tree().queries().isSaved(*node)) return {};
        const std::string old(node->displayName().utf8());
        if (name == old || name == node->displayName().string()) return {};
        stack.performCommand(std::make_shared<SavedQueryCommand>(std::string(node->name.utf8()), old, name), path);
        return {};
    }
    case SidebarAction::addNewFolder: {
        if (std::string refusal = checkFolderName(name); !refusal.empty()) return refusal;
        NodePath newPath = appended(path, name);
        auto folder = folderPathForNode(fullNameForNodePath(newPath));
        if (!folder) return {};
        stack.performCommand(std::make_shared<NewSubdirectoryCommand>(*folder), newPath);
        return {};
    }
    default:
        return {};
    }
}

void SidebarActions::perform(BrowserState& window, SidebarAction action) {
    const NodePath path = window.currentNode();
    if (path.empty()) return;
    CommandStack& stack = *window.commandStack();
    const Tree& tree = window.context().db->tree();
    switch (action) {
    case SidebarAction::deleteCurrentTag:
        stack.performTagTreeChange(TagChangeKind::deleteTag, path);
        break;
    case SidebarAction::mergeIntoParentTag:
        if (path.size() >= 2)
            stack.performTagTreeChange(TagChangeKind::merge, path, NodePath(path.begin(), path.end() - 1));
        break;
    case SidebarAction::deleteCurrentFolder: {
        if (!tree.lookup(path)) break;
        auto folder = folderPathForNode(fullNameForNodePath(path));
        if (!folder) break;
        stack.performCommand(std::make_shared<ToTrashCommand>(std::vector<std::string>{*folder},
                                                              TrashKind::directories),
                             NodePath(path.begin(), path.end() - 1));
        break;
    }
    case SidebarAction::removeQuery: {
        NodePtr node = tree.lookup(path);
        if (!node || !node->isQuery() || !tree.queries().isSaved(*node)) break;
        stack.performCommand(std::make_shared<SavedQueryCommand>(std::string(node->name.utf8()),
                                                                 std::string(node->displayName().utf8()), std::nullopt),
                             path);
        break;
    }
    case SidebarAction::pinQuery:
    case SidebarAction::unpinQuery: {
        NodePtr node = tree.lookup(path);
        if (!node || !node->isQuery()) break;
        stack.performPinChange(queryFullName(*node),
                               action == SidebarAction::pinQuery ? PinAction::pinTag : PinAction::unpinTag);
        break;
    }
    case SidebarAction::pinCurrentTag:
    case SidebarAction::unpinCurrentTag:
        if (isTagsOrPinned(path))
            stack.performPinChange(tagFullName(path), action == SidebarAction::pinCurrentTag ? PinAction::pinTag
                                                                                            : PinAction::unpinTag);
        break;
    default:
        break;
    }
}

std::vector<std::string> SidebarActions::revealPaths(const Tree& tree, const NodePath& path) {
    NodePtr node = path.empty() ? nullptr : tree.lookup(path);
    if (!node) return {};
    if (has(node->kind, NodeKind::directory)) {
        auto folder = folderPathForNode(node->fullName);
        return folder ? std::vector<std::string>{*folder} : std::vector<std::string>{};
    }
    std::vector<std::string> out;
    if (!has(node->kind, NodeKind::tag)) return out;
    const auto& files = node->sortedPaths();
    if (files.empty()) return out;
    auto folderOf = [](std::string_view p) {
        size_t slash = p.rfind('/');
        return slash == std::string_view::npos ? std::string_view() : p.substr(0, slash);
    };
    std::string_view first = folderOf(files.front().utf8());
    for (const QuickString& f : files)
        if (folderOf(f.utf8()) == first) out.emplace_back(f.utf8());
    return out;
}

}  // namespace qm
