#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qm {

// The texts of the alert that asks before dropped files are renamed to
// avoid a name conflict in the destination folder.
struct RenameConflictText {
    std::string message;
    // With several renames: one line per file, "old  →  new", sorted,
    // joined by line feeds; empty with a single rename.
    std::string details;
};

RenameConflictText renameConflictText(const std::vector<std::pair<std::string, std::string>>& renames);

}  // namespace qm
