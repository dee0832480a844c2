#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "commands/Command.h"
#include "core/QuickString.h"

namespace qm {

class TagFormat;
class Tree;

// The grid's "Add Tag…" apart from its prompt: what the prompt says, how
// the path being typed splits into levels for completion, and the command
// that tags the selected files.
class AddTagAction {
public:
    static constexpr const char* title = "Add Tag\u2026";
    static constexpr const char* button = "Add Tag";

    // "Enter the tag to add to the file "name":" for one file, else
    // "Enter the tag to add to the N selected files:".
    static std::string message(const std::vector<QuickString>& selection);

    // The levels of a tag path being typed, for completion: split at "/",
    // each level trimmed, empty levels dropped except the last, which is the
    // one being typed (" Work / " gives "Work" and "").
    static std::vector<std::string> typedLevels(std::string_view text);

    // One undoable command of kind tag that adds `tag` to the selected files
    // that lack it; null when every one has it already. Files that carried
    // the tag before are left out, so undoing never takes it off them.
    static CommandPtr command(const Tree& tree, const TagFormat& format,
                             const std::vector<QuickString>& selection, const std::string& tag);
};

}  // namespace qm
