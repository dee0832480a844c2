#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <thread>

#include "core/PathNames.h"

namespace qm {

InstanceLock::~InstanceLock() {
    release();
}

std::string InstanceLock::lockPath(const std::string& guardedPath) {
    return guardedPath + ".lock";
}

std::optional<std::string> InstanceLock::acquire(const std::vector<std::string>& guardedPaths,
                                                 std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        auto held = tryAcquire(guardedPaths);
        if (!held || std::chrono::steady_clock::now() >= deadline) return held;
        // The holder says nothing when it lets go; ask again shortly.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::optional<std::string> InstanceLock::tryAcquire(const std::vector<std::string>& guardedPaths) {
    release();
    for (const std::string& guarded : guardedPaths) {
        if (guarded.empty()) continue;
        const std::string path = lockPath(guarded);
        std::error_code ignored;
        std::filesystem::create_directories(parentOf(path), ignored);
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) continue;
        struct flock l {};
        l.l_type = F_WRLCK;
        l.l_whence = SEEK_SET;  // the whole file, however long
        if (::fcntl(fd, F_OFD_SETLK, &l) != 0) {
            ::close(fd);
            release();
            return path;
        }
        fds_.push_back(fd);
    }
    return std::nullopt;
}

void InstanceLock::release() {
    for (int fd : fds_)
        ::close(fd);  // closing the description drops its lock
    fds_.clear();
}

}  // namespace qm
