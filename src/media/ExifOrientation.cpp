#include "media/ExifOrientation.h"

#include <exiv2/exiv2.hpp>

#include <cstdint>
#include <mutex>

namespace qm {

int ExifOrientation::fromTiffData(std::string_view tiff) {
    static std::once_flag quiet;
    std::call_once(quiet, [] { Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });
    try {
        Exiv2::ExifData exif;
        Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte*>(tiff.data()),
                                  static_cast<uint32_t>(tiff.size()));
        auto it = Exiv2::orientation(exif);
        if (it == exif.end() || it->count() < 1) return 1;
        const long v = it->toLong(0);
        return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
    } catch (...) {
        return 1;
    }
}

}  // namespace qm
