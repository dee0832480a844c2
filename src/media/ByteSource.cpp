#include "media/ByteSource.h"

namespace qm {

bool ByteSource::readExact(std::uint64_t offset, void* into, std::size_t n) {
    if (offset > size() || n > size() - offset) return false;
    return readAt(offset, into, n) == n;
}

}  // namespace qm
