#include <cstring>
#include <string>
#include <string_view>

#include "media/FileMetadataReaders.h"
#include "media/GPanoDelegate.h"

namespace qm::media {

namespace {
constexpr char kXmpIdentifier[] = "http://ns.adobe.com/xap/1.0/";  // with its zero byte: 29
constexpr std::size_t kXmpIdentifierSize = sizeof(kXmpIdentifier);
constexpr std::string_view kGPanoNamespace = "http://ns.google.com/photos/1.0/panorama/";
static_assert(kXmpIdentifierSize == 29 && kGPanoNamespace.size() == 41);
}  // namespace

// Walks the segment headers after SOI; only an APP1 with the XMP identifier has more
// than its identifier read, so a camera JPEG costs a few hundred bytes.
std::optional<GPano> jpegPanorama(ByteSource& source) {
    const std::uint64_t size = source.size();
    std::uint64_t p = 2;
    for (;;) {
        if (p + 4 > size) return std::nullopt;
        std::uint8_t head[4];
        if (!source.readExact(p, head, 4)) return std::nullopt;
        if (head[0] != 0xFF || (head[0] == 0xFF && head[1] == 0xDA)) return std::nullopt;
        const std::uint16_t length = be16(head + 2);
        if (length <= 1) return std::nullopt;
        const std::uint64_t payload = length - 2u;
        const std::uint64_t next = p + 4 + payload;
        if (next > size) return std::nullopt;
        if (head[1] == 0xE1 && payload >= kXmpIdentifierSize) {
            char id[kXmpIdentifierSize];
            if (!source.readExact(p + 4, id, kXmpIdentifierSize)) return std::nullopt;
            if (std::memcmp(id, kXmpIdentifier, kXmpIdentifierSize) == 0) {
                std::string packet(payload - kXmpIdentifierSize, '\0');
                if (!source.readExact(p + 4 + kXmpIdentifierSize, packet.data(), packet.size()))
                    return std::nullopt;
                if (packet.find(kGPanoNamespace) != std::string::npos) return GPanoDelegate::parse(packet);
                // Without the namespace this packet has no panorama; a later one may.
            }
        }
        p = next;
    }
}

}  // namespace qm::media
