#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/GPS.h"

namespace qm {

// The EXIF GPS position of an image (JPEG, PNG, TIFF, WebP and the raw formats
// exiv2 reads; HEIF and AVIF through libheif). Damaged files and files without a
// usable position yield none; nothing throws.
class ImageLocationReader {
public:
    // True for the file names whose extension names an image format with EXIF.
    static bool handles(std::string_view path);
    // The same for a media type ("image/jpeg").
    static bool handlesType(std::string_view type);
    static std::optional<GPS> read(const std::string& path);
    // From an Exif block's TIFF structure (as HEIF files carry it).
    static std::optional<GPS> fromTiffData(std::string_view tiff);
};

}  // namespace qm
