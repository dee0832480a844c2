#include "platform/LinuxFileOperations.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/FileOperationsPosix.h"
#include "platform/Trash.h"

namespace qm {

FileResult LinuxFileOperations::trashItem(const std::string& path) {
    return Trash::trashItem(path);
}

FileResult LinuxFileOperations::restoreItem(const std::string& trashedPath, const std::string& to) {
    return Trash::restoreItem(trashedPath, to);
}

FileResult LinuxFileOperations::moveItem(const std::string& from, const std::string& to) {
    return posix::moveNoReplace(from, to);
}

FileResult LinuxFileOperations::copyItem(const std::string& from, const std::string& to) {
    return posix::copyNoReplace(from, to);
}

bool LinuxFileOperations::isOnSameFileSystem(const std::string& path, const std::string& folder) {
    struct stat item, dir;
    return ::lstat(path.c_str(), &item) == 0 && ::stat(folder.c_str(), &dir) == 0 && item.st_dev == dir.st_dev;
}

FileResult LinuxFileOperations::createDirectory(const std::string& path) {
    return posix::makeDirectories(path, 0777);
}

FileResult LinuxFileOperations::removeDirectory(const std::string& path) {
    if (::rmdir(path.c_str()) != 0) return FileResult::failure(posix::errorText(errno));
    return FileResult::success();
}

bool LinuxFileOperations::fileExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace qm
