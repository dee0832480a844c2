#pragma once

// The container readers behind readFileMetadata, one per format. Each takes the
// file's bytes and checks every length and offset it reads against them.

#include <cstdint>
#include <filesystem>
#include <optional>

#include "media/ByteSource.h"
#include "media/GPano.h"

namespace qm::media {

std::optional<GPano> jpegPanorama(ByteSource& source);

// Sum of the frame delays of an animated GIF, PNG (APNG) or WebP; absent for fewer
// than two frames.
std::optional<double> gifDuration(ByteSource& source);
std::optional<double> pngDuration(ByteSource& source);
std::optional<double> webpDuration(ByteSource& source);

std::optional<double> aviDuration(ByteSource& source);
std::optional<double> asfDuration(ByteSource& source);

enum class MediaKind { sound, movie };
// Duration from libavformat; for movies only when there is a video track.
std::optional<double> mediaDuration(const std::filesystem::path& path, MediaKind kind);

inline std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint16_t be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
inline std::uint32_t le24(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
}
inline std::uint32_t le32(const std::uint8_t* p) {
    return le24(p) | std::uint32_t(p[3]) << 24;
}
inline std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}
inline std::uint64_t le64(const std::uint8_t* p) {
    return std::uint64_t(le32(p)) | std::uint64_t(le32(p + 4)) << 32;
}

}  // namespace qm::media
