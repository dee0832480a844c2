#include "commands/MoveFilesCommand.h"

#include "commands/CommandLog.h"
#include "commands/FileCommandRun.h"
#include "core/Log.h"

namespace qm {

std::string MoveFilesCommand::debugDescription() const {
    return "MoveFilesCommand(fromTo: " + pairListDescription(fromTo) + ")";
}

CommandOutcome MoveFilesCommand::run(CommandContext& context) const {
    Pairs back = runEachItem(fromTo, [&](const std::pair<std::string, std::string>& item)
                                         -> std::optional<std::pair<std::string, std::string>> {
        const auto& [from, to] = item;
        FileResult r = context.fileOperations->moveItem(from, to);
        if (!r.ok) {
            logLine(LogArea::fs, "Failed to move " + qm::quotedText(displayPath(from)) + ": " + r.error);
            return std::nullopt;
        }
        logLine(LogArea::fs, "Moved " + qm::quotedText(displayPath(from)) + " to " + qm::quotedText(displayPath(to)));
        return std::pair{to, from};
    });
    const size_t done = back.size();
    return itemRunOutcome(
        *this, std::make_shared<MoveFilesCommand>(std::move(back)), done, fromTo.size(),
        [](size_t n) { return "Moved " + (n == 1 ? std::string("File") : std::to_string(n) + " files"); }, "moved");
}

}  // namespace qm
