#pragma once

#include <string>

#include "commands/Command.h"

namespace qm {

// Creating and removing a folder: one path, one file operation, one "[fs]"
// line, and the other direction as the inverse whether or not it worked.
class SubdirectoryCommand : public Command {
public:
    const std::string path;

    std::string debugDescription() const final;
    CommandPtr run(CommandContext& context) const final;
    std::string statusTextAfterRun(const Command& inverse) const final;
    bool changedNothing(const Command& inverse) const final;

protected:
    SubdirectoryCommand(std::string path, bool creates, bool afterFailure)
        : path(std::move(path)), creates_(creates), afterFailure_(afterFailure) {}

private:
    const bool creates_;
    // Made as the inverse of a run that failed: it runs just the same, but
    // tells the run that made it that nothing changed.
    const bool afterFailure_;
};

}  // namespace qm
