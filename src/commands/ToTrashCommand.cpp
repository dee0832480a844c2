#include "commands/ToTrashCommand.h"

#include "commands/CommandLog.h"
#include "commands/FromTrashCommand.h"

namespace qm {

std::string ToTrashCommand::debugDescription() const {
    return "ToTrashCommand(paths: " + listDescription(paths) + ")";
}

CommandPtr ToTrashCommand::run(CommandContext& context) const {
    FromTrashCommand::Pairs trashed;
    for (const std::string& path : paths) {
        FileResult r = context.fileOperations->trashItem(path);
        if (!r.ok) {
            commandLog("[fs] Failed to trash " + qm::quotedText(displayPath(path)) + ": " + r.error);
            continue;
        }
        if (!r.resultingPath) continue;
        commandLog("[fs] Trashed " + qm::quotedText(displayPath(path)) + " to " +
                   qm::quotedText(displayPath(*r.resultingPath)));
        trashed.emplace_back(*r.resultingPath, path);
    }
    return std::make_shared<FromTrashCommand>(std::move(trashed), kind);
}

namespace {
// How many items the run carried out: its inverse lists exactly those.
size_t doneCount(const Command& inverse) {
    auto* back = dynamic_cast<const FromTrashCommand*>(&inverse);
    return back ? back->fromTo.size() : 0;
}
}  // namespace

std::string ToTrashCommand::statusTextAfterRun(const Command& inverse) const {
    size_t done = doneCount(inverse);
    if (done >= paths.size()) return statusText();
    return partialOutcomeText("Trashed " + trashPhrase(kind, done), paths.size() - done, "trashed");
}

bool ToTrashCommand::changedNothing(const Command& inverse) const {
    return doneCount(inverse) == 0;
}

}  // namespace qm
