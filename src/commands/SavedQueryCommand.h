#pragma once

#include <optional>
#include <string>

#include "commands/Command.h"

namespace qm {

// Saves a query under a name, renames a saved one, or removes it from the
// saved queries (the query node stays, unsaved); the inverse puts the old
// name back, or removes what was saved.
class SavedQueryCommand : public Command {
public:
    // oldName: none when the query is not saved now; newName: none removes it.
    SavedQueryCommand(std::string expression, std::optional<std::string> oldName, std::optional<std::string> newName)
        : expression(std::move(expression)), oldName(std::move(oldName)), newName(std::move(newName)) {}

    const std::string expression;
    const std::optional<std::string> oldName;
    const std::optional<std::string> newName;

    std::string statusText() const override;
    std::string menuText() const override;
    std::string debugDescription() const override;
    CommandOutcome run(CommandContext& context) const override;
};

}  // namespace qm
