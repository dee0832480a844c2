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

    // The toast after a run that returned `inverse`. Commands whose items can
    // fail one by one count what was done and say what failed; when all
    // went, this is statusText().
    virtual std::string statusTextAfterRun(const Command& inverse) const {
        (void)inverse;
        return statusText();
    }
    // True when the run that returned `inverse` changed nothing, so there is
    // nothing to undo.
    virtual bool changedNothing(const Command& inverse) const {
        (void)inverse;
        return false;
    }
};

}  // namespace qm
