#pragma once

#include <functional>
#include <optional>
#include <string>

#include "commands/FileOperations.h"

namespace qm {

// The freedesktop.org Trash: the home trash under $XDG_DATA_HOME/Trash for
// items on the home file system, and $topdir/.Trash/$uid or
// $topdir/.Trash-$uid for items on other volumes. Each trashed item gets an
// info/<name>.trashinfo record with its original path and deletion date.
class Trash {
public:
    // $XDG_DATA_HOME/Trash ($HOME/.local/share/Trash without the variable).
    static std::string homeTrashDirectory();

    // Moves the item into the Trash of its volume; the result's path is its
    // new place (<trash>/files/<name>).
    static FileResult trashItem(const std::string& path);

    // How an item gets into the Trash folder: moveNoReplace, or a stand-in
    // in tests. `leftRemnant` reports a complete copy whose source could not
    // be fully removed.
    using Mover = std::function<FileResult(const std::string& from, const std::string& to, bool* leftRemnant)>;
    static FileResult trashItem(const std::string& path, const Mover& mover);

    // Moves an item from <trash>/files back to `to` (never replacing) and
    // then removes its .trashinfo, so no orphan record stays behind.
    static FileResult restoreItem(const std::string& trashedPath, const std::string& to);

    // The .trashinfo record of a trashed item, or none when it has none.
    static std::optional<std::string> infoPathFor(const std::string& trashedPath);
};

}  // namespace qm
