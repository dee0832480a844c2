#include "core/DirectoryReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace qm {

DirectoryReader DirectoryReader::open(const std::string& path, int extraFlags) {
    return adopt(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags));
}

DirectoryReader DirectoryReader::duplicate(int folder) {
    if (folder < 0) return DirectoryReader(nullptr, EBADF);
    DirectoryReader reader = adopt(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
    // The copy shares the caller's offset, which may not be at the start.
    if (reader.dir_) ::rewinddir(reader.dir_);
    return reader;
}

DirectoryReader DirectoryReader::adopt(int fd) {
    if (fd < 0) return DirectoryReader(nullptr, errno);
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return DirectoryReader(nullptr, error);
    }
    return DirectoryReader(dir, 0);
}

DirectoryReader::DirectoryReader(DirectoryReader&& other) noexcept
    : dir_(std::exchange(other.dir_, nullptr)), error_(other.error_) {}

DirectoryReader& DirectoryReader::operator=(DirectoryReader&& other) noexcept {
    if (this != &other) {
        if (dir_) ::closedir(dir_);
        dir_ = std::exchange(other.dir_, nullptr);
        error_ = other.error_;
    }
    return *this;
}

DirectoryReader::~DirectoryReader() {
    if (dir_) ::closedir(dir_);
}

int DirectoryReader::fd() const noexcept {
    return dir_ ? ::dirfd(dir_) : -1;
}

const dirent* DirectoryReader::next() {
    if (!dir_) return nullptr;
    for (;;) {
        // readdir tells the end from a failure only through errno.
        errno = 0;
        const dirent* entry = ::readdir(dir_);
        if (!entry) {
            error_ = errno;
            return nullptr;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        return entry;
    }
}

}  // namespace qm
