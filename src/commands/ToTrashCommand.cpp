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

}  // namespace qm
