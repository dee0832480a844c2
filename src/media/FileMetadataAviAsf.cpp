#include <cstring>

#include "media/FileMetadataReaders.h"

namespace qm::media {

namespace {
constexpr std::uint8_t kAsfFilePropertiesObject[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                       0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
}  // namespace

// Only the main AVI header directly after the form type is read: "LIST" "hdrl" "avih"
// with its fixed size of 56.
std::optional<double> aviDuration(ByteSource& source) {
    if (source.size() < 88) return std::nullopt;
    std::uint8_t b[40];
    if (!source.readExact(12, b, sizeof b)) return std::nullopt;
    if (std::memcmp(b, "LIST", 4) != 0 || std::memcmp(b + 8, "hdrlavih\x38\0\0\0", 12) != 0)
        return std::nullopt;
    const double microsecondsPerFrame = le32(b + 20);
    const double totalFrames = le32(b + 36);
    return microsecondsPerFrame * totalFrames / 1'000'000.0;
}

// Walks the objects of the ASF header to the file properties object.
std::optional<double> asfDuration(ByteSource& source) {
    const std::uint64_t size = source.size();
    if (size < 24) return std::nullopt;
    std::uint8_t sizeBytes[8];
    if (!source.readExact(16, sizeBytes, 8)) return std::nullopt;
    const std::uint64_t headerSize = le64(sizeBytes);
    if (headerSize < 54 || headerSize > size) return std::nullopt;
    std::uint64_t position = 30;
    std::uint64_t objectSize = 0;
    for (;;) {
        std::uint8_t object[24];
        if (!source.readExact(position, object, sizeof object)) return std::nullopt;
        objectSize = le64(object + 16);
        if (objectSize < 24 || objectSize > size || position + objectSize > size) return std::nullopt;
        if (std::memcmp(object, kAsfFilePropertiesObject, 16) == 0) break;
        position += objectSize;
        if (position + 24 > headerSize) return std::nullopt;
    }
    if (objectSize < 88) return std::nullopt;
    std::uint8_t times[24];  // play duration, send duration, preroll
    if (!source.readExact(position + 64, times, sizeof times)) return std::nullopt;
    const double playDuration = static_cast<double>(le64(times));
    const double preroll = static_cast<double>(le64(times + 16));
    return playDuration / 10'000'000.0 - preroll / 1000.0;
}

}  // namespace qm::media
