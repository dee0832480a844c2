#include "library/FolderAccessProbe.h"

#include <dirent.h>

namespace qm {

void PosixFolderAccessProbe::listDirectory(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (!dir) return;
    while (readdir(dir) != nullptr) {
    }
    closedir(dir);
}

}  // namespace qm
