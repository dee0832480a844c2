#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "commands/Command.h"
#include "commands/TagChange.h"
#include "commands/TagChangeKind.h"
#include "core/QuickString.h"

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
    CommandOutcome run(CommandContext& context) const override;

    // The two halves of `run`, apart for measuring. The file phase returns,
    // for each file in order, what it actually changed on disk: a tag added
    // only where it was missing, removed only where it was present, nothing
    // where the read or write failed. `treeTagsBefore` (the tag nodes each
    // file had in the tree before the tree phase) is what the tree is put
    // back to for a file whose tags cannot be read.
    void runTreePhase(DB& db) const;
    std::vector<TagChange> runFilePhase(CommandContext& context,
                                        const std::vector<QuickStringSet>* treeTagsBefore = nullptr) const;
    // The inverse of the requested changes, or of `done` (same files, same
    // order) so that undoing restores exactly the tags each file had.
    std::shared_ptr<const TagChangeCommand> makeInverse() const;
    std::shared_ptr<const TagChangeCommand> makeInverse(std::vector<TagChange> done) const;
};

}  // namespace qm
