#include "media/FileMetadata.h"

#include <cstring>

#include "media/FileByteSource.h"
#include "media/FileMetadataReaders.h"
#include "media/MediaTypeDatabase.h"

namespace qm {

namespace {

constexpr std::uint8_t kPng[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint8_t kAsfHeaderObject[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                               0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

bool startsWith(const std::uint8_t* header, const void* signature, std::size_t n) {
    return std::memcmp(header, signature, n) == 0;
}

}  // namespace

FileMetadata readFileMetadata(const std::filesystem::path& path) {
    FileByteSource source;
    if (!source.open(path)) return {};
    return readFileMetadata(source, path);
}

FileMetadata readFileMetadata(ByteSource& source, const std::filesystem::path& path) {
    FileMetadata metadata;
    if (source.size() < 16) return metadata;
    std::uint8_t header[16];
    if (!source.readExact(0, header, sizeof header)) return metadata;

    const bool isRiff = startsWith(header, "RIFF", 4);
    if (header[0] == 0xFF && header[1] == 0xD8) {
        metadata.gpano = media::jpegPanorama(source);
    } else if (startsWith(header, "GIF87a", 6) || startsWith(header, "GIF89a", 6)) {
        metadata.duration = media::gifDuration(source);
    } else if (startsWith(header, kPng, sizeof kPng)) {
        metadata.duration = media::pngDuration(source);
    } else if (isRiff && std::memcmp(header + 8, "WEBPVP8", 7) == 0) {
        metadata.duration = media::webpDuration(source);
    } else if (startsWith(header, kAsfHeaderObject, sizeof kAsfHeaderObject)) {
        metadata.duration = media::asfDuration(source);
    } else if (isRiff && std::memcmp(header + 8, "AVI ", 4) == 0) {
        metadata.duration = media::aviDuration(source);
    } else {
        const std::string name = path.filename().string();
        if (name.empty()) return metadata;
        const std::string_view type = MediaTypeDatabase::shared().typeForFileName(name);
        if (type.starts_with("audio/")) {
            metadata.duration = media::mediaDuration(path, media::MediaKind::sound);
        } else if (type.starts_with("video/")) {
            metadata.duration = media::mediaDuration(path, media::MediaKind::movie);
        }
    }
    return metadata;
}

}  // namespace qm
