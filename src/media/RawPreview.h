#pragma once

#include <optional>
#include <string>

namespace qm {

// The embedded previews of images exiv2 reads (raw camera files carry one or more
// JPEGs beside the sensor data) and the EXIF orientation that applies to them:
// cameras store previews as the sensor saw them.
class RawPreview {
public:
    std::string data;      // the encoded preview
    std::string mimeType;  // as exiv2 names it, e.g. "image/jpeg"
    int width = 0;
    int height = 0;
    int orientation = 1;  // EXIF orientation 1 to 8 of the file

    // The largest preview of the file; absent when it has none or cannot be read.
    static std::optional<RawPreview> largest(const std::string& path);
};

}  // namespace qm
