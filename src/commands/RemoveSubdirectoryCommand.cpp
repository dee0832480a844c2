#include "commands/RemoveSubdirectoryCommand.h"

#include "commands/CommandLog.h"
#include "commands/NewSubdirectoryCommand.h"

namespace qm {

CommandPtr RemoveSubdirectoryCommand::run(CommandContext& context) const {
    FileResult r = context.fileOperations->removeDirectory(path);
    commandLog((r.ok ? "[fs] Removed " : "[fs] Failed to remove ") + qm::quoted(path));
    return std::make_shared<NewSubdirectoryCommand>(path);
}

}  // namespace qm
