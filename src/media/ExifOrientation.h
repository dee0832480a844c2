#pragma once

#include <string_view>

namespace qm {

// The EXIF orientation (1 to 8: the stored image as seen, mirrored and turned)
// read from an Exif block's TIFF structure, as HEIF files carry it.
class ExifOrientation {
public:
    // 1 (as stored) when absent, out of range or unreadable.
    static int fromTiffData(std::string_view tiff);
};

}  // namespace qm
