#include "platform/IndexLiveLock.h"

#include <fcntl.h>
#include <unistd.h>

#include <utility>

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

std::string IndexLiveLock::lockPath(const std::string& databasePath) {
    return databasePath + ".live";
}

bool IndexLiveLock::isHeld(const std::string& databasePath) {
    const UniqueFd fd(::open(lockPath(databasePath).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return false;
    // Asks whether a write lock could be placed: any reader's lock says no.
    struct flock probe = wholeFile(F_WRLCK);
    return ::fcntl(fd.get(), F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

bool IndexLiveLock::acquire(const std::string& databasePath) {
    release();
    UniqueFd fd(::open(lockPath(databasePath).c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) return false;
    // A read lock: it never waits for another live index's, and nothing else
    // ever takes a write lock (readers only ask).
    struct flock l = wholeFile(F_RDLCK);
    if (::fcntl(fd.get(), F_OFD_SETLK, &l) != 0) return false;
    fd_ = std::move(fd);
    return true;
}

bool IndexLiveLock::heldByOthers() const {
    if (!fd_) return false;
    // Asked through our own description, whose lock never conflicts with itself.
    struct flock probe = wholeFile(F_WRLCK);
    return ::fcntl(fd_.get(), F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

void IndexLiveLock::release() {
    fd_.reset();
}

}  // namespace qm
