#pragma once

#include <QImage>
#include <QSize>

#include <optional>
#include <string>

#include "desktop/DecodeLimits.h"

namespace qm {

// HEIF and AVIF images (phone photos) decoded with libheif, which Qt's image
// plugins and FFmpeg here do not read.
class HeifImageDecoder {
public:
    // The primary image fitted within maxSize (aspect kept, never enlarged), turned
    // and mirrored as the file says; decoded from the file's thumbnail item
    // instead when one is at least as large as the result. Absent when the file
    // cannot be decoded. Reentrant.
    static std::optional<QImage> decode(const std::string& path, QSize maxSize);
    // Read through an open descriptor only. Pictures above
    // DecodeLimits::maxImagePixels are refused undecoded.
    static std::optional<QImage> decode(int fd, QSize maxSize, DecodeFailure* failure = nullptr);
};

}  // namespace qm
