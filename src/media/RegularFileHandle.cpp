#include "media/RegularFileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

RegularFileHandle::RegularFileHandle(const std::string& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)) {
    struct stat st;
    if (fd_ && (::fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode))) fd_.reset();
    if (!fd_) return;
    // Through /proc the libraries reopen this very file; without /proc the
    // name is the best there is.
    path_ = "/proc/self/fd/" + std::to_string(fd_.get());
    if (::access(path_.c_str(), R_OK) != 0) path_ = path;
}

}  // namespace qm
