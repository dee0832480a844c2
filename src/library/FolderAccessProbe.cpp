#include "library/FolderAccessProbe.h"

#include "core/DirectoryReader.h"

namespace qm {

void PosixFolderAccessProbe::listDirectory(const std::string& path) {
    DirectoryReader dir = DirectoryReader::open(path);
    while (dir.next()) {
    }
}

}  // namespace qm
