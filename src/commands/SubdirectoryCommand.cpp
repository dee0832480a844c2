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
        return std::make_shared<RemoveSubdirectoryCommand>(path);
    }
    FileResult r = context.fileOperations->removeDirectory(path);
    commandLog((r.ok ? "[fs] Removed " : "[fs] Failed to remove ") + qm::quotedText(path));
    return std::make_shared<NewSubdirectoryCommand>(path);
}

}  // namespace qm
