// libFuzzer target: readFileMetadata over arbitrary bytes must not fault, hang or
// allocate beyond the input's size.
#include <cstddef>
#include <cstdint>

#include "media/FileMetadata.h"
#include "media/MemoryByteSource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qm::MemoryByteSource source({data, size});
    // No file name: the by-name fallback to libavformat is not reached.
    (void)qm::readFileMetadata(source, {});
    return 0;
}
