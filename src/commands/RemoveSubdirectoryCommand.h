#pragma once

#include <string>

#include "commands/Command.h"

namespace qm {

// Removes an empty folder; only ever made as the inverse of a creation.
class RemoveSubdirectoryCommand : public Command {
public:
    explicit RemoveSubdirectoryCommand(std::string path) : path(std::move(path)) {}
    const std::string path;

    std::string statusText() const override { return "Removed Subfolder"; }
    std::string menuText() const override { return {}; }
    std::string debugDescription() const override { return "RemoveSubdirectoryCommand(path: " + path + ")"; }
    CommandPtr run(CommandContext& context) const override;
};

}  // namespace qm
