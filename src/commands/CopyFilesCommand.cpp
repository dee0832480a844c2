#include "commands/CopyFilesCommand.h"

#include "commands/CommandLog.h"
#include "commands/FileCommandRun.h"
#include "commands/ToTrashCommand.h"
#include "core/Log.h"

namespace qm {

std::string CopyFilesCommand::debugDescription() const {
    return "CopyFilesCommand(fromTo: " + pairListDescription(fromTo) + ")";
}

CommandOutcome CopyFilesCommand::run(CommandContext& context) const {
    std::vector<std::string> made = runEachItem(fromTo, [&](const std::pair<std::string, std::string>& item)
                                                            -> std::optional<std::string> {
        const auto& [from, to] = item;
        FileResult r = context.fileOperations->copyItem(from, to);
        if (!r.ok) {
            logLine(LogArea::fs, "Failed to copy " + qm::quotedText(displayPath(from)) + ": " + r.error);
            return std::nullopt;
        }
        logLine(LogArea::fs, "Copied " + qm::quotedText(displayPath(from)) + " to " + qm::quotedText(displayPath(to)));
        return to;
    });
    const size_t done = made.size();
    return itemRunOutcome(
        *this, std::make_shared<ToTrashCommand>(std::move(made), TrashKind::files), done, fromTo.size(),
        [](size_t n) { return "Copied " + copyPhrase(n); }, "copied");
}

}  // namespace qm
