#pragma once

#include "commands/FileOperations.h"

namespace qm {

// File operations on Linux: the freedesktop.org Trash, renames that never
// replace (renameat2 with RENAME_NOREPLACE; across file systems a copy that
// keeps mode, times and extended attributes, then removal of the source),
// copies that keep the same, mkdir -p and rmdir.
class LinuxFileOperations : public FileOperations {
public:
    FileResult trashItem(const std::string& path) override;
    FileResult restoreItem(const std::string& trashedPath, const std::string& to) override;
    FileResult moveItem(const std::string& from, const std::string& to) override;
    FileResult copyItem(const std::string& from, const std::string& to) override;
    bool isOnSameFileSystem(const std::string& path, const std::string& folder) override;
    FileResult createDirectory(const std::string& path) override;
    FileResult removeDirectory(const std::string& path) override;
    bool fileExists(const std::string& path) override;
};

}  // namespace qm
