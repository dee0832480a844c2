#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library/TagStore.h"

namespace qm {

// Adds and removes tags of single files through a tag store: reads the
// file's tags, changes them and writes the sorted list back, leaving a file
// alone when nothing changes. Used by the command-line tool, where each file
// succeeds or fails on its own.
class TagEditor {
public:
    struct Outcome {
        bool ok = false;
        bool changed = false;  // a new list was written
        std::string error;     // one line naming the file and the reason, when !ok
    };

    explicit TagEditor(TagStore& store) : store_(store) {}

    // Why `tag` cannot be stored as a tag name; none when it can.
    static std::optional<std::string> invalidTagReason(std::string_view tag);

    // One line for a failure `reason` of the tag store about `path`, with the
    // path escaped as the listings write it.
    static std::string describeFailure(const std::string& reason, const std::string& path);

    Outcome change(const std::string& path, const std::vector<std::string>& toAdd,
                   const std::vector<std::string>& toRemove);

private:
    TagStore& store_;
};

}  // namespace qm
