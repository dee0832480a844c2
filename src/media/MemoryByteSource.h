#pragma once

#include <algorithm>
#include <cstring>
#include <span>

#include "media/ByteSource.h"

namespace qm {

// Bytes already in memory (fuzzing, tests). The span must outlive the source.
class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint64_t size() const override { return bytes_.size(); }
    std::size_t readAt(std::uint64_t offset, void* into, std::size_t n) override {
        if (offset >= bytes_.size()) return 0;
        std::size_t count = std::min<std::uint64_t>(n, bytes_.size() - offset);
        if (count > 0) std::memcpy(into, bytes_.data() + offset, count);
        return count;
    }

private:
    std::span<const std::uint8_t> bytes_;
};

}  // namespace qm
