#pragma once

#include <string>
#include <vector>

#include "commands/Command.h"
#include "commands/TrashKind.h"

namespace qm {

// Moves files or folders to the Trash; the inverse restores those that went.
class ToTrashCommand : public Command {
public:
    ToTrashCommand(std::vector<std::string> paths, TrashKind kind) : paths(std::move(paths)), kind(kind) {}

    const std::vector<std::string> paths;
    const TrashKind kind;

    std::string statusText() const override { return "Trashed " + trashPhrase(kind, paths.size()); }
    std::string menuText() const override { return "Trash " + trashPhrase(kind, paths.size()); }
    std::string debugDescription() const override;
    CommandOutcome run(CommandContext& context) const override;
};

}  // namespace qm
