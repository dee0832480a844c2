#pragma once

#include <cstdint>
#include <string>

#include "commands/Command.h"
#include "core/QuickString.h"

namespace qm {

// Raw values are stable.
enum class PinAction : uint8_t { pinTag = 0, unpinTag = 1 };

// Pins or unpins a tag node (its full name under Tags); the inverse does the
// other.
class AlterPinCommand : public Command {
public:
    AlterPinCommand(QuickString fullName, PinAction action) : fullName(std::move(fullName)), action(action) {}

    const QuickString fullName;
    const PinAction action;

    std::string statusText() const override;
    std::string menuText() const override;
    std::string debugDescription() const override;
    CommandOutcome run(CommandContext& context) const override;

private:
    std::string quotedTag() const;
};

}  // namespace qm
