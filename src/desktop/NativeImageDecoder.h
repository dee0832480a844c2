#pragma once

#include <QImage>
#include <QMimeType>
#include <QSize>

#include <optional>
#include <string>

#include "desktop/DecodeLimits.h"

namespace qm {

// The kinds of files that need a decoder of their own rather than Qt's image
// plugins: HEIF and AVIF photos, raw camera files and PDF documents. Shared by
// the thumbnails and the preview window.
class NativeImageDecoder {
public:
    enum class Kind { none, heif, raw, pdf };

    static Kind kindOf(const QMimeType& type);
    // The file as an image fitted within maxSize; absent when it cannot be decoded.
    // `fd`, when given, is the file already opened and checked, which HEIF
    // photos are read through.
    static std::optional<QImage> decode(const std::string& path, Kind kind, QSize maxSize, int fd = -1,
                                        DecodeFailure* failure = nullptr);
};

}  // namespace qm
