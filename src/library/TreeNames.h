#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/QuickString.h"
#include "core/TagFormat.h"

namespace qm {

// The fixed names of the root's sections, made once per process.
const QuickString& pinnedSectionName();   // "Pinned"
const QuickString& colorsSectionName();   // "Colors"
const QuickString& foldersSectionName();  // "Folders"
const QuickString& tagsSectionName();     // "Tags"
const QuickString& mapSectionName();      // "Map"
const QuickString& queriesSectionName();  // "Queries", made with the first query

// The full name of the folder node for a path: "Folders" for the home
// directory, "Folders/" + the rest for a path inside it, none otherwise.
std::optional<QuickString> nodeNameForFolder(std::string_view path);
std::optional<QuickString> nodeNameForFolder(const QuickString& path);

// The inverse: the directory path a folder node stands for ("Folders" is the
// home directory); none when the full name is not in the Folders section.
std::optional<std::string> folderPathForNode(const QuickString& fullName);

}  // namespace qm
