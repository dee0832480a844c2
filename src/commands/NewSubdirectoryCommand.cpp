#include "commands/NewSubdirectoryCommand.h"

#include "commands/CommandLog.h"
#include "commands/RemoveSubdirectoryCommand.h"

namespace qm {

CommandPtr NewSubdirectoryCommand::run(CommandContext& context) const {
    FileResult r = context.fileOperations->createDirectory(path);
    commandLog((r.ok ? "[fs] Created " : "[fs] Failed to create ") + qm::quoted(path));
    return std::make_shared<RemoveSubdirectoryCommand>(path);
}

}  // namespace qm
