#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "library/Node.h"

namespace qm {

// What a folder node lists of its directory: the names of the sub-folders to
// show and the plain files directly inside, by full path, without position.
struct FolderContents {
    QuickStringSet subfolderNames;
    Node::Paths files;
};

// Whether the Folders section lists an entry of this name (see below).
bool isListedInFolders(std::string_view name, bool isDirectory, bool isInHomeFolder);

// Reads a directory for the Folders section. Skipped: names beginning with
// ".", "Library" in the home directory itself (isHomeFolder), entries gone
// before they could be examined, and directories ending with
// ".photoslibrary". Symbolic links count as what they point to; a dangling
// one is skipped. None when the directory cannot be listed; never throws.
// Names are kept as raw bytes.
std::optional<FolderContents> readFolderContents(const std::string& directory, bool isHomeFolder);

}  // namespace qm
