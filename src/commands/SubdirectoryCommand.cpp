#include "commands/SubdirectoryCommand.h"

#include "commands/CommandLog.h"
#include "commands/NewSubdirectoryCommand.h"
#include "commands/RemoveSubdirectoryCommand.h"

namespace qm {

std::string SubdirectoryCommand::debugDescription() const {
    // The path is written as it is, without quotes.
    return std::string(creates_ ? "NewSubdirectoryCommand" : "RemoveSubdirectoryCommand") +
           "(path: " + path + ")";
}

CommandPtr SubdirectoryCommand::run(CommandContext& context) const {
    if (creates_) {
        FileResult r = context.fileOperations->createDirectory(path);
        commandLog((r.ok ? "[fs] Created " : "[fs] Failed to create ") + qm::quotedText(path));
        return std::make_shared<RemoveSubdirectoryCommand>(path, !r.ok);
    }
    FileResult r = context.fileOperations->removeDirectory(path);
    commandLog((r.ok ? "[fs] Removed " : "[fs] Failed to remove ") + qm::quotedText(path));
    return std::make_shared<NewSubdirectoryCommand>(path, !r.ok);
}

bool SubdirectoryCommand::changedNothing(const Command& inverse) const {
    auto* back = dynamic_cast<const SubdirectoryCommand*>(&inverse);
    return back && back->afterFailure_;
}

std::string SubdirectoryCommand::statusTextAfterRun(const Command& inverse) const {
    if (!changedNothing(inverse)) return statusText();
    return creates_ ? "Could not create Subfolder" : "Could not remove Subfolder";
}

}  // namespace qm
