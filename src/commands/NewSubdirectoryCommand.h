#pragma once

#include <string>

#include "commands/Command.h"

namespace qm {

// Creates a folder with any missing parents; undone by removing it.
class NewSubdirectoryCommand : public Command {
public:
    explicit NewSubdirectoryCommand(std::string path) : path(std::move(path)) {}
    const std::string path;

    std::string statusText() const override { return "Created Subfolder"; }
    std::string menuText() const override { return "Create Subfolder"; }
    std::string debugDescription() const override { return "NewSubdirectoryCommand(path: " + path + ")"; }
    CommandPtr run(CommandContext& context) const override;
};

}  // namespace qm
