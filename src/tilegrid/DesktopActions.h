#pragma once

#include <string>
#include <vector>

namespace qm {

// Opens each file with the desktop's default application.
void openFilesWithDefaultApplication(const std::vector<std::string>& paths);

// Shows the files selected in the desktop's file manager (the
// org.freedesktop.FileManager1 D-Bus service); without that service, opens
// the folder of the first file.
void revealFilesInFileManager(const std::vector<std::string>& paths);

}  // namespace qm
