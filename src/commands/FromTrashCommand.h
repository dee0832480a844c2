#pragma once

#include <string>
#include <utility>
#include <vector>

#include "commands/Command.h"
#include "commands/TrashKind.h"

namespace qm {

// Moves items from their place in the Trash back to where they were; only
// ever made as the inverse of ToTrashCommand.
class FromTrashCommand : public Command {
public:
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    FromTrashCommand(Pairs fromTo, TrashKind kind) : fromTo(std::move(fromTo)), kind(kind) {}

    const Pairs fromTo;
    const TrashKind kind;

    std::string statusText() const override { return "Restored " + trashPhrase(kind, fromTo.size()); }
    std::string menuText() const override { return {}; }
    std::string debugDescription() const override;
    CommandOutcome run(CommandContext& context) const override;
};

}  // namespace qm
