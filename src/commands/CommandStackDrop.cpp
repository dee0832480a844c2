// CommandStack::performDrop: what a drop onto a node does.
#include "commands/BrowserState.h"
#include "commands/CommandStack.h"
#include "commands/CopyFilesCommand.h"
#include "commands/MoveFilesCommand.h"
#include "commands/TagChangeCommand.h"
#include "library/DB.h"
#include "library/Tree.h"
#include "library/TreeNames.h"

namespace qm {

std::string CommandStack::copyName(const std::string& name,
                                   const std::function<bool(const std::string&)>& exists) {
    // A leading dot starts the extension: ".profile" becomes " copy.profile".
    size_t dot = name.find_last_of('.');
    std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    std::string candidate = base + " copy" + ext;
    for (unsigned n = 2; exists(candidate); ++n)
        candidate = base + " copy " + std::to_string(n) + ext;
    return candidate;
}

bool CommandStack::performDrop(const NodePtr& target, const DropInfo& drop, bool renamingConfirmed,
                               DropOperation* performed) {
    if (performed) *performed = DropOperation::copy;  // tagging leaves every file where it is
    auto window = appWindow.lock();
    if (!window || !target) return false;
    CommandContext& context = window->context();
    const Tree& tree = context.db->tree();

    if (std::optional<TagPasteboardType> payload = drop.tagPayload()) {
        NodePath sourcePath = nodePathForFullName(context.db->format->nodeNameForTag(payload->tag));
        if (sourcePath.empty()) return false;
        NodePath destination = target->nodePath();
        destination.push_back(sourcePath.back());
        // A tag cannot go into itself or below itself.
        if (nodePathStartsWith(destination, sourcePath)) return false;
        NodePtr source = tree.lookup(sourcePath);
        NodePtr parent = source ? source->parent() : nullptr;
        if (!source || source == target || !parent || !has(parent->kind, NodeKind::tagContainer) ||
            !has(target->kind, NodeKind::tagContainer))
            return false;
        performTagTreeChange(TagChangeKind::reparent, sourcePath, destination);
        return true;
    }

    std::vector<QuickString> paths;
    const Node::Paths& listed = target->resolvedPaths();
    for (const QuickString& p : drop.filePaths())
        if (!listed.contains(p)) paths.push_back(p);
    if (paths.empty()) return false;

    bool isTag = has(target->kind, NodeKind::tag);
    if (!isTag && has(target->kind, NodeKind::directory)) {
        std::optional<std::string> folder = folderPathForNode(target->fullName);
        if (!folder) return false;
        FileOperations& files = *context.fileOperations;
        bool sameFileSystem = true;
        for (const QuickString& p : paths)
            sameFileSystem = sameFileSystem && files.isOnSameFileSystem(std::string(p.utf8()), *folder);
        std::optional<DropOperation> operation = drop.operationFor(sameFileSystem);
        if (!operation) return false;
        MoveFilesCommand::Pairs plain, renamed;
        std::vector<std::pair<std::string, std::string>> renames;
        for (const QuickString& p : paths) {
            std::string_view path = p.utf8();
            size_t slash = path.find_last_of('/');
            if (slash == std::string_view::npos) continue;
            std::string name(path.substr(slash + 1));
            std::string destination = *folder + "/" + name;
            if (!files.fileExists(destination)) {
                plain.emplace_back(std::string(path), destination);
                continue;
            }
            std::string candidate =
                copyName(name, [&](const std::string& c) { return files.fileExists(*folder + "/" + c); });
            renames.emplace_back(name, candidate);
            renamed.emplace_back(std::string(path), *folder + "/" + candidate);
        }
        if (!renames.empty() && !renamingConfirmed) {
            if (window->renameConflictAlert) window->renameConflictAlert(target, drop, renames);
            return true;
        }
        plain.insert(plain.end(), renamed.begin(), renamed.end());
        if (plain.empty()) return false;
        // Asking first (above) has moved nothing yet, which is what the source hears then.
        if (performed) *performed = *operation;
        if (*operation == DropOperation::copy)
            performCommand(std::make_shared<CopyFilesCommand>(std::move(plain)));
        else
            performCommand(std::make_shared<MoveFilesCommand>(std::move(plain)));
        return true;
    }

    if (isTag) {
        std::optional<std::string> tag = TagFormat::tagForNodeName(target->fullName);
        if (!tag) return false;
        std::vector<TagChange> changes;
        changes.reserve(paths.size());
        for (const QuickString& p : paths)
            changes.push_back(TagChange{p, {*tag}, {}});
        performCommand(std::make_shared<TagChangeCommand>(TagChangeKind::tag, TagChangeKind::tag,
                                                          std::move(changes), std::set<std::string>{},
                                                          std::set<std::string>{}));
        return true;
    }
    return false;
}

}  // namespace qm
