#include "commands/SavedQueryCommand.h"

#include <memory>

#include "commands/CommandLog.h"
#include "core/QuickString.h"
#include "library/DB.h"

namespace qm {

namespace {
std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}
}  // namespace

std::string SavedQueryCommand::statusText() const {
    if (!newName) return "Removed Query " + quoted(oldName.value_or(expression));
    if (!oldName) return "Saved Query " + quoted(*newName);
    return "Renamed Query " + quoted(*oldName) + " to " + quoted(*newName);
}

std::string SavedQueryCommand::menuText() const {
    if (!newName) return "Remove Query " + quoted(oldName.value_or(expression));
    if (!oldName) return "Save Query " + quoted(*newName);
    return "Rename Query " + quoted(*oldName);
}

std::string SavedQueryCommand::debugDescription() const {
    auto text = [](const std::optional<std::string>& s) {
        return s ? quotedText(QuickString::bytes(*s)) : std::string("nil");
    };
    return "SavedQueryCommand(expression: " + quotedText(QuickString::bytes(expression)) +
           ", oldName: " + text(oldName) + ", newName: " + text(newName) + ")";
}

CommandOutcome SavedQueryCommand::run(CommandContext& context) const {
    DB& db = *context.db;
    const bool changed = newName ? db.saveQuery(expression, *newName) : db.unsaveQuery(expression);
    CommandOutcome outcome = completed(std::make_shared<SavedQueryCommand>(expression, newName, oldName));
    outcome.changedNothing = !changed;
    return outcome;
}

}  // namespace qm
