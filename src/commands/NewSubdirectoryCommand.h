#pragma once

#include "commands/SubdirectoryCommand.h"

namespace qm {

// Creates a folder with any missing parents; undone by removing it.
class NewSubdirectoryCommand final : public SubdirectoryCommand {
public:
    explicit NewSubdirectoryCommand(std::string path) : SubdirectoryCommand(std::move(path), true) {}

    std::string statusText() const override { return "Created Subfolder"; }
    std::string menuText() const override { return "Create Subfolder"; }
};

}  // namespace qm
