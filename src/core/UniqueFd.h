#pragma once

#include <unistd.h>

#include <utility>

namespace qm {

// Sole owner of a file descriptor: closed when the owner goes. Move-only.
class UniqueFd {
public:
    UniqueFd() noexcept = default;
    // Takes over `fd`; a negative value means none (the result of a failed open).
    explicit UniqueFd(int fd) noexcept : fd_(fd < 0 ? -1 : fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return valid(); }

    // Hands the descriptor over; this owns none afterwards.
    [[nodiscard]] int release() noexcept { return std::exchange(fd_, -1); }
    // Closes the one held (if any) and takes over `fd`.
    void reset(int fd = -1) noexcept {
        const int old = std::exchange(fd_, fd < 0 ? -1 : fd);
        if (old >= 0) ::close(old);
    }
    // Closes now and returns close's result: a delayed write error may
    // surface only here, so writers check it. 0 when none was held.
    int close() noexcept {
        const int old = release();
        return old >= 0 ? ::close(old) : 0;
    }

private:
    int fd_ = -1;
};

}  // namespace qm
