#pragma once

#include <filesystem>

#include "core/UniqueFd.h"
#include "media/ByteSource.h"

namespace qm {

// A regular file read with pread(2). Counts the bytes it hands out, so that callers
// can check how little of a file a reader touched.
class FileByteSource final : public ByteSource {
public:
    FileByteSource() = default;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    // Opens a regular file (never blocks on FIFOs or devices); false when it cannot.
    bool open(const std::filesystem::path& path);

    std::uint64_t size() const override { return size_; }
    std::size_t readAt(std::uint64_t offset, void* into, std::size_t n) override;

    std::uint64_t bytesRead() const { return bytesRead_; }

private:
    UniqueFd fd_;
    std::uint64_t size_ = 0;
    std::uint64_t bytesRead_ = 0;
};

}  // namespace qm
