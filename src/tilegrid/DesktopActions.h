#pragma once

#include <string>
#include <vector>

namespace qm {

// Opens each file with the desktop's default application.
void openFilesWithDefaultApplication(const std::vector<std::string>& paths);

}  // namespace qm
