#pragma once

#include "commands/SubdirectoryCommand.h"

namespace qm {

// Removes an empty folder; only ever made as the inverse of a creation.
class RemoveSubdirectoryCommand final : public SubdirectoryCommand {
public:
    explicit RemoveSubdirectoryCommand(std::string path) : SubdirectoryCommand(std::move(path), false) {}

    std::string statusText() const override { return "Removed Subfolder"; }
    std::string menuText() const override { return {}; }
};

}  // namespace qm
