#include "commands/SubdirectoryCommand.h"

#include "commands/CommandLog.h"
#include "commands/NewSubdirectoryCommand.h"
#include "commands/RemoveSubdirectoryCommand.h"
#include "core/Log.h"

namespace qm {

std::string SubdirectoryCommand::debugDescription() const {
    // The path is written as it is, without quotes.
    return std::string(creates_ ? "NewSubdirectoryCommand" : "RemoveSubdirectoryCommand") +
           "(path: " + path + ")";
}

CommandOutcome SubdirectoryCommand::run(CommandContext& context) const {
    FileResult r;
    CommandPtr inverse;
    if (creates_) {
        r = context.fileOperations->createDirectory(path);
        logLine(LogArea::fs, (r.ok ? "Created " : "Failed to create ") + qm::quotedText(path));
        inverse = std::make_shared<RemoveSubdirectoryCommand>(path);
    } else {
        r = context.fileOperations->removeDirectory(path);
        logLine(LogArea::fs, (r.ok ? "Removed " : "Failed to remove ") + qm::quotedText(path));
        inverse = std::make_shared<NewSubdirectoryCommand>(path);
    }
    if (r.ok) return completed(std::move(inverse));
    return {std::move(inverse), creates_ ? "Could not create Subfolder" : "Could not remove Subfolder", true};
}

}  // namespace qm
