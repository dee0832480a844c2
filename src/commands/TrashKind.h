#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

// Selects the wording of the Trash commands only. Raw values are stable.
enum class TrashKind : uint8_t { files = 0, directories = 1 };

// "File"/"n Files" or "Folder"/"n Folders".
inline std::string trashPhrase(TrashKind kind, size_t count) {
    bool one = count == 1;
    if (kind == TrashKind::directories) return one ? "Folder" : std::to_string(count) + " Folders";
    return one ? "File" : std::to_string(count) + " Files";
}

}  // namespace qm
