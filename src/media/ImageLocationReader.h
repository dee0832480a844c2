#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/GPS.h"

namespace qm {

// The EXIF GPS position of an image (JPEG, PNG, TIFF, WebP, HEIF and the raw
// formats exiv2 reads). Damaged files and files without a usable position
// yield none; nothing throws.
class ImageLocationReader {
public:
    // True for the file names whose extension names an image format with EXIF.
    static bool handles(std::string_view path);
    static std::optional<GPS> read(const std::string& path);
};

}  // namespace qm
