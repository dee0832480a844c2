#include "commands/FromTrashCommand.h"

#include "commands/CommandLog.h"
#include "commands/FileCommandRun.h"
#include "commands/ToTrashCommand.h"
#include "core/Log.h"

namespace qm {

std::string FromTrashCommand::debugDescription() const {
    return "FromTrashCommand(fromTo: " + pairListDescription(fromTo) + ")";
}

CommandOutcome FromTrashCommand::run(CommandContext& context) const {
    std::vector<std::string> restored =
        runEachItem(fromTo, [&](const std::pair<std::string, std::string>& item) -> std::optional<std::string> {
            const auto& [from, to] = item;
            FileResult r = context.fileOperations->restoreItem(from, to);
            if (!r.ok) {
                logLine(LogArea::fs, "Failed to restore " + qm::quotedText(displayPath(from)) + ": " + r.error);
                return std::nullopt;
            }
            logLine(LogArea::fs, "Restored " + qm::quotedText(displayPath(from)) + " to " +
                       qm::quotedText(displayPath(to)));
            return to;
        });
    const size_t done = restored.size();
    return itemRunOutcome(
        *this, std::make_shared<ToTrashCommand>(std::move(restored), kind), done, fromTo.size(),
        [this](size_t n) { return "Restored " + trashPhrase(kind, n); }, "restored");
}

}  // namespace qm
