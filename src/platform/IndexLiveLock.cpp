#include "platform/IndexLiveLock.h"

#include <fcntl.h>
#include <unistd.h>

namespace qm {

namespace {

struct flock wholeFile(short type) {
    struct flock l {};
    l.l_type = type;
    l.l_whence = SEEK_SET;
    l.l_start = 0;
    l.l_len = 0;  // to the end, however long
    return l;
}

}  // namespace

IndexLiveLock::~IndexLiveLock() {
    release();
}

std::string IndexLiveLock::lockPath(const std::string& databasePath) {
    return databasePath + ".live";
}

bool IndexLiveLock::isHeld(const std::string& databasePath) {
    const int fd = ::open(lockPath(databasePath).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    // Asks whether a write lock could be placed: any reader's lock says no.
    struct flock probe = wholeFile(F_WRLCK);
    const bool held = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

bool IndexLiveLock::acquire(const std::string& databasePath) {
    release();
    const int fd = ::open(lockPath(databasePath).c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    // A read lock: it never waits for another live index's, and nothing else
    // ever takes a write lock (readers only ask).
    struct flock l = wholeFile(F_RDLCK);
    if (::fcntl(fd, F_OFD_SETLK, &l) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void IndexLiveLock::release() {
    if (fd_ < 0) return;
    ::close(fd_);  // closing the description drops its lock
    fd_ = -1;
}

}  // namespace qm
