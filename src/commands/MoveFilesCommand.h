#pragma once

#include <string>
#include <utility>
#include <vector>

#include "commands/Command.h"

namespace qm {

// Moves items, never onto an existing one; the inverse moves back those
// that moved.
class MoveFilesCommand : public Command {
public:
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    explicit MoveFilesCommand(Pairs fromTo) : fromTo(std::move(fromTo)) {}

    const Pairs fromTo;

    std::string statusText() const override { return "Moved " + movePhrase(); }
    std::string menuText() const override { return "Move " + movePhrase(); }
    std::string debugDescription() const override;
    CommandOutcome run(CommandContext& context) const override;

private:
    std::string movePhrase() const {
        return fromTo.size() == 1 ? std::string("File") : std::to_string(fromTo.size()) + " files";
    }
};

}  // namespace qm
