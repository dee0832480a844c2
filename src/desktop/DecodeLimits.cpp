#include "desktop/DecodeLimits.h"

#include <QImageReader>

#include <cerrno>
#include <mutex>

namespace qm {

void DecodeLimits::applyToQt() {
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(allocationLimitMiB); });
}

bool DecodeLimits::isTransientErrno(int err) {
    switch (err) {
    case ENOMEM:
    case EMFILE:
    case ENFILE:
    case EAGAIN:
    case EINTR:
    case EIO:
    case ENOBUFS:
    case ETIMEDOUT: return true;
    default: return false;
    }
}

}  // namespace qm
