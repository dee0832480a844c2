#include "commands/ToTrashCommand.h"

#include "commands/CommandLog.h"
#include "commands/FileCommandRun.h"
#include "commands/FromTrashCommand.h"
#include "core/Log.h"

namespace qm {

std::string ToTrashCommand::debugDescription() const {
    return "ToTrashCommand(paths: " + listDescription(paths) + ")";
}

CommandOutcome ToTrashCommand::run(CommandContext& context) const {
    FromTrashCommand::Pairs trashed =
        runEachItem(paths, [&](const std::string& path) -> std::optional<std::pair<std::string, std::string>> {
            FileResult r = context.fileOperations->trashItem(path);
            if (!r.ok) {
                logLine(LogArea::fs, "Failed to trash " + qm::quotedText(displayPath(path)) + ": " + r.error);
                return std::nullopt;
            }
            if (!r.resultingPath) return std::nullopt;
            logLine(LogArea::fs, "Trashed " + qm::quotedText(displayPath(path)) + " to " +
                       qm::quotedText(displayPath(*r.resultingPath)));
            return std::pair{*r.resultingPath, path};
        });
    const size_t done = trashed.size();
    return itemRunOutcome(
        *this, std::make_shared<FromTrashCommand>(std::move(trashed), kind), done, paths.size(),
        [this](size_t n) { return "Trashed " + trashPhrase(kind, n); }, "trashed");
}

}  // namespace qm
