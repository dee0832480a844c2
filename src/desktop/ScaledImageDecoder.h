#pragma once

#include <QIODevice>
#include <QImage>
#include <QSize>
#include <QString>

#include <optional>

#include "desktop/DecodeLimits.h"

namespace qm {

// Decodes an image file straight to thumbnail size. The size is handed to the
// decoder before reading, so JPEGs are decoded at 1/2, 1/4 or 1/8 scale by the
// codec itself instead of at full size; EXIF orientation is applied. Held to
// DecodeLimits: larger pictures are refused from their header.
class ScaledImageDecoder {
public:
    // The image fitted within maxSize (aspect kept, never enlarged); absent when the
    // file cannot be decoded. Reentrant.
    static std::optional<QImage> decode(const QString& path, QSize maxSize);
    // From an open device, positioned at the start of the image. For files whose
    // names are not valid UTF-8: such a name does not survive a QString.
    static std::optional<QImage> decode(QIODevice* device, QSize maxSize, DecodeFailure* failure = nullptr);

    // The slow path, for comparison: full decode, then scale.
    static std::optional<QImage> decodeFullThenScale(const QString& path, QSize maxSize);
};

}  // namespace qm
