#include "app/RenameConflictText.h"

#include <algorithm>

namespace qm {

RenameConflictText renameConflictText(const std::vector<std::pair<std::string, std::string>>& renames) {
    RenameConflictText out;
    if (renames.size() == 1) {
        out.message = "The file \"" + renames[0].first + "\" already exists in the destination. Rename it to \"" +
                      renames[0].second + "\" to avoid a conflict?";
        return out;
    }
    out.message = "The following files already exist in the destination. Rename them to avoid a conflict?";
    std::vector<std::string> lines;
    for (const auto& [oldName, newName] : renames)
        lines.push_back(oldName + "  \u2192  " + newName);
    std::sort(lines.begin(), lines.end());
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) out.details += '\n';
        out.details += lines[i];
    }
    return out;
}

}  // namespace qm
