#pragma once

#include <string>
#include <utility>
#include <vector>

#include "commands/Command.h"

namespace qm {

// Copies items (with their tags), never onto an existing one; the inverse
// moves the copies that were made to the Trash.
class CopyFilesCommand : public Command {
public:
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    explicit CopyFilesCommand(Pairs fromTo) : fromTo(std::move(fromTo)) {}

    const Pairs fromTo;

    std::string statusText() const override { return "Copied " + copyPhrase(fromTo.size()); }
    std::string menuText() const override { return "Copy " + copyPhrase(fromTo.size()); }
    std::string debugDescription() const override;
    CommandOutcome run(CommandContext& context) const override;

    static std::string copyPhrase(size_t n) { return n == 1 ? std::string("File") : std::to_string(n) + " files"; }
};

}  // namespace qm
