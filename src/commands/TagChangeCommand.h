#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "commands/Command.h"
#include "commands/TagChange.h"
#include "commands/TagChangeKind.h"

namespace qm {

// Every edit of user tags: per-file additions and removals, plus the tag
// nodes the change may create and those to prune when left empty. The tree
// changes at once in one batch; then each file's tags are rewritten.
class TagChangeCommand : public Command {
public:
    TagChangeCommand(TagChangeKind originalKind, TagChangeKind currentKind, std::vector<TagChange> files,
                     std::set<std::string> nodesToTrim, std::set<std::string> nodesToMake);

    const TagChangeKind originalKind;
    const TagChangeKind currentKind;
    const std::vector<TagChange> files;
    const std::set<std::string> nodesToTrim;
    const std::set<std::string> nodesToMake;

    std::string statusText() const override;
    std::string debugDescription() const override;
    std::string menuText() const override;
    CommandPtr run(CommandContext& context) const override;

    // The two halves of `run`, apart for measuring.
    void runTreePhase(DB& db) const;
    void runFilePhase(CommandContext& context) const;
    std::shared_ptr<const TagChangeCommand> makeInverse() const;
};

}  // namespace qm
