#include "media/FileByteSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace qm {

bool FileByteSource::open(const std::filesystem::path& path) {
    fd_.reset();
    size_ = 0;
    // O_NONBLOCK so that a FIFO with no writer cannot stall the metadata queue.
    fd_.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd_) return false;
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        fd_.reset();
        return false;
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
    return true;
}

std::size_t FileByteSource::readAt(std::uint64_t offset, void* into, std::size_t n) {
    if (!fd_ || offset >= size_) return 0;
    auto* out = static_cast<char*>(into);
    std::size_t done = 0;
    while (done < n) {
        ssize_t got = ::pread(fd_.get(), out + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    bytesRead_ += done;
    return done;
}

}  // namespace qm
