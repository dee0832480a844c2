#pragma once

#include <QImage>
#include <QSize>

#include <optional>
#include <string>

namespace qm {

// Raw camera files shown through the largest JPEG (or TIFF) preview they embed,
// turned and mirrored by the file's EXIF orientation: developing the sensor data
// would take seconds.
class RawPreviewDecoder {
public:
    // Fitted within maxSize (aspect kept, never enlarged); absent when the file has
    // no preview that decodes. Reentrant.
    static std::optional<QImage> decode(const std::string& path, QSize maxSize);
};

}  // namespace qm
