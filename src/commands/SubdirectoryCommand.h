#pragma once

#include <string>

#include "commands/Command.h"

namespace qm {

// Creating and removing a folder: one path, one file operation, one "[fs]"
// line, and the other direction as the inverse whether or not it worked (a
// failed run reports that it changed nothing).
class SubdirectoryCommand : public Command {
public:
    const std::string path;

    std::string debugDescription() const final;
    CommandOutcome run(CommandContext& context) const final;

protected:
    SubdirectoryCommand(std::string path, bool creates) : path(std::move(path)), creates_(creates) {}

private:
    const bool creates_;
};

}  // namespace qm
