#pragma once

#include <optional>
#include <string>
#include <string_view>

struct heif_image_handle;

namespace qm {

// The Exif block of a HEIF or AVIF image, found by libheif: exiv2 does not read
// these containers. Only the container's boxes and the block are read, never the
// coded image.
class HeifExif {
public:
    // True when the first bytes of a file are those of a HEIF or AVIF container.
    static bool isHeif(std::string_view header);
    // The block's TIFF structure (from its byte-order mark on) for the primary
    // image; absent when the file is not HEIF, is damaged or has no Exif.
    static std::optional<std::string> tiffData(const std::string& path);
    static std::optional<std::string> tiffData(const heif_image_handle* image);
};

}  // namespace qm
