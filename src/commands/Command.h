#pragma once

#include <memory>
#include <string>
#include <utility>

#include "commands/CommandContext.h"

namespace qm {

class Command;
using CommandPtr = std::shared_ptr<const Command>;

// What one run did, as the run itself knows it.
struct CommandOutcome {
    CommandPtr inverse;      // undoes the run
    std::string statusText;  // the toast: what was done, and what failed
    // Nothing changed, so there is nothing to undo.
    bool changedNothing = false;
};

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
    virtual CommandOutcome run(CommandContext& context) const = 0;
    // The Edit-menu text after "Undo "/"Redo " when this command is the one
    // the user performed; empty for commands that only arise as inverses.
    virtual std::string menuText() const = 0;

protected:
    // The outcome of a run that did all it was asked.
    CommandOutcome completed(CommandPtr inverse) const { return {std::move(inverse), statusText(), false}; }
};

}  // namespace qm
