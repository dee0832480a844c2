#include "commands/AlterPinCommand.h"

#include "commands/CommandLog.h"
#include "library/Tree.h"

namespace qm {

std::string AlterPinCommand::quotedTag() const {
    // The name below its section: Tags/a/b shows as "a/b".
    std::string_view s = fullName.string();
    size_t slash = s.find('/');
    return "\"" + std::string(slash == std::string_view::npos ? std::string_view() : s.substr(slash + 1)) +
           "\"";
}

namespace {
bool isQuery(const QuickString& fullName) {
    return fullName.utf8().starts_with("Queries/");
}
}  // namespace

std::string AlterPinCommand::statusText() const {
    if (isQuery(fullName)) return (action == PinAction::pinTag ? "Pinned Query " : "Unpinned Query ") + quotedTag();
    return (action == PinAction::pinTag ? "Pinned Tag " : "Unpinned Tag ") + quotedTag();
}

std::string AlterPinCommand::menuText() const {
    if (isQuery(fullName)) return (action == PinAction::pinTag ? "Pin Query " : "Unpin Query ") + quotedTag();
    return (action == PinAction::pinTag ? "Pin Tag " : "Unpin Tag ") + quotedTag();
}

std::string AlterPinCommand::debugDescription() const {
    return "AlterPinCommand(fullPath: " + qm::quotedText(fullName) +
           ", action: " + (action == PinAction::pinTag ? "pinTag" : "unpinTag") + ")";
}

CommandOutcome AlterPinCommand::run(CommandContext& context) const {
    DB& db = *context.db;
    Tree& tree = db.mutableTree();
    bool changed = action == PinAction::unpinTag ? tree.removePin(fullName) : tree.addPin(fullName);
    if (changed) {
        db.savePins();
        db.noteChange(WhatChanged::children);
    }
    return completed(std::make_shared<AlterPinCommand>(
        fullName, action == PinAction::pinTag ? PinAction::unpinTag : PinAction::pinTag));
}

}  // namespace qm
