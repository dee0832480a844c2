#include "commands/FromTrashCommand.h"

#include "commands/CommandLog.h"
#include "commands/ToTrashCommand.h"

namespace qm {

std::string FromTrashCommand::debugDescription() const {
    return "FromTrashCommand(fromTo: " + pairListDescription(fromTo) + ")";
}

CommandPtr FromTrashCommand::run(CommandContext& context) const {
    std::vector<std::string> restored;
    for (const auto& [from, to] : fromTo) {
        FileResult r = context.fileOperations->restoreItem(from, to);
        if (!r.ok) {
            commandLog("[fs] Failed to restore " + qm::quotedText(displayPath(from)) + ": " + r.error);
            continue;
        }
        commandLog("[fs] Restored " + qm::quotedText(displayPath(from)) + " to " +
                   qm::quotedText(displayPath(to)));
        restored.push_back(to);
    }
    return std::make_shared<ToTrashCommand>(std::move(restored), kind);
}

namespace {
// How many items the run carried out: its inverse lists exactly those.
size_t doneCount(const Command& inverse) {
    auto* back = dynamic_cast<const ToTrashCommand*>(&inverse);
    return back ? back->paths.size() : 0;
}
}  // namespace

std::string FromTrashCommand::statusTextAfterRun(const Command& inverse) const {
    size_t done = doneCount(inverse);
    if (done >= fromTo.size()) return statusText();
    return partialOutcomeText("Restored " + trashPhrase(kind, done), fromTo.size() - done, "restored");
}

bool FromTrashCommand::changedNothing(const Command& inverse) const {
    return doneCount(inverse) == 0;
}

}  // namespace qm
