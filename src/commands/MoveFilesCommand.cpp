#include "commands/MoveFilesCommand.h"

#include "commands/CommandLog.h"

namespace qm {

std::string MoveFilesCommand::debugDescription() const {
    return "MoveFilesCommand(fromTo: " + pairListDescription(fromTo) + ")";
}

CommandPtr MoveFilesCommand::run(CommandContext& context) const {
    Pairs back;
    for (const auto& [from, to] : fromTo) {
        FileResult r = context.fileOperations->moveItem(from, to);
        if (!r.ok) {
            commandLog("[fs] Failed to move " + qm::quotedText(displayPath(from)) + ": " + r.error);
            continue;
        }
        commandLog("[fs] Moved " + qm::quotedText(displayPath(from)) + " to " +
                   qm::quotedText(displayPath(to)));
        back.emplace_back(to, from);
    }
    return std::make_shared<MoveFilesCommand>(std::move(back));
}

}  // namespace qm
