#pragma once

#include <vector>

#include "core/QuickString.h"

namespace qm {

// Opens each file with the desktop's default application.
void openFilesWithDefaultApplication(const std::vector<QuickString>& paths);
// Shows the files, selected, in the desktop's file manager.
void showFilesInFileManager(const std::vector<QuickString>& paths);

}  // namespace qm
