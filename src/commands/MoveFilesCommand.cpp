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

namespace {
// How many items the run carried out: its inverse lists exactly those.
size_t doneCount(const Command& inverse) {
    auto* back = dynamic_cast<const MoveFilesCommand*>(&inverse);
    return back ? back->fromTo.size() : 0;
}
}  // namespace

std::string MoveFilesCommand::statusTextAfterRun(const Command& inverse) const {
    size_t done = doneCount(inverse);
    if (done >= fromTo.size()) return statusText();
    return partialOutcomeText("Moved " + (done == 1 ? std::string("File") : std::to_string(done) + " files"), fromTo.size() - done, "moved");
}

bool MoveFilesCommand::changedNothing(const Command& inverse) const {
    return doneCount(inverse) == 0;
}

}  // namespace qm
