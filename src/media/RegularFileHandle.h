#pragma once

#include <string>

#include "core/UniqueFd.h"

namespace qm {

// A regular file opened for the metadata libraries, which open by path: the
// final symlink is not followed and a FIFO or device put in a file's place
// after the crawl's lstat is refused instead of blocking the read.
class RegularFileHandle {
public:
    explicit RegularFileHandle(const std::string& path);
    bool isOpen() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }
    // A path naming exactly the opened file.
    const std::string& path() const { return path_; }

private:
    UniqueFd fd_;
    std::string path_;
};

}  // namespace qm
