#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

// Random access to the bytes of one file, as the metadata readers need it: every read
// names its offset, and short reads at the end are normal.
class ByteSource {
public:
    virtual ~ByteSource() = default;

    virtual std::uint64_t size() const = 0;
    // Reads up to n bytes at offset into `into`; returns how many were read (fewer at
    // the end of the data or on an error, 0 past the end).
    virtual std::size_t readAt(std::uint64_t offset, void* into, std::size_t n) = 0;

    // True when exactly n bytes were read.
    bool readExact(std::uint64_t offset, void* into, std::size_t n);
};

}  // namespace qm
