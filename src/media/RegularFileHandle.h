#pragma once

#include <string>

namespace qm {

// A regular file opened for the metadata libraries, which open by path: the
// final symlink is not followed and a FIFO or device put in a file's place
// after the crawl's lstat is refused instead of blocking the read.
class RegularFileHandle {
public:
    explicit RegularFileHandle(const std::string& path);
    ~RegularFileHandle();
    RegularFileHandle(const RegularFileHandle&) = delete;
    RegularFileHandle& operator=(const RegularFileHandle&) = delete;
    bool isOpen() const { return fd_ >= 0; }
    // A path naming exactly the opened file.
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace qm
