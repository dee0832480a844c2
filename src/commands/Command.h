#pragma once

#include <memory>
#include <string>

#include "commands/CommandContext.h"

namespace qm {

class Command;
using CommandPtr = std::shared_ptr<const Command>;

// One edit of files or tags. Immutable: `run` performs the edit and builds a
// new command that undoes it; running that one gives back an equivalent of
// this, so undo and redo alternate between the two.
class Command {
public:
    virtual ~Command() = default;
    // Past tense, for the toast after the command ran ("Tagged 3 Files").
    virtual std::string statusText() const = 0;
    // One line for the "[run]" log.
    virtual std::string debugDescription() const = 0;
    // Performs the edit; never throws, logs what failed.
    virtual CommandPtr run(CommandContext& context) const = 0;
    // The Edit-menu text after "Undo "/"Redo " when this command is the one
    // the user performed; empty for commands that only arise as inverses.
    virtual std::string menuText() const = 0;
};

}  // namespace qm
