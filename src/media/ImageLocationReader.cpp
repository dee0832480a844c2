#include "media/ImageLocationReader.h"

#include "media/HeifExif.h"
#include "media/MediaTypeDatabase.h"
#include "media/RegularFileHandle.h"

#include <exiv2/exiv2.hpp>

#include <cmath>
#include <mutex>

#include <unistd.h>

namespace qm {

namespace {

// Degrees, minutes, seconds as three rationals.
std::optional<double> degrees(const Exiv2::Exifdatum& d) {
    if (d.count() < 1) return std::nullopt;
    double parts[3] = {0, 0, 0};
    bool known = false;
    for (long i = 0; i < d.count() && i < 3; ++i) {
        Exiv2::Rational r = d.toRational(i);
        if (r.second == 0) {
            // 0/0 is how writers say "unknown" for a part.
            if (r.first == 0) continue;
            return std::nullopt;
        }
        parts[i] = static_cast<double>(r.first) / static_cast<double>(r.second);
        known = true;
    }
    // All parts unknown (cameras without a fix write this): no position, not 0.
    if (!known) return std::nullopt;
    double value = parts[0] + parts[1] / 60.0 + parts[2] / 3600.0;
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<GPS> positionIn(const Exiv2::ExifData& exif) {
    auto lat = exif.findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitude"));
    auto lon = exif.findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLongitude"));
    if (lat == exif.end() || lon == exif.end()) return std::nullopt;
    auto latValue = degrees(*lat);
    auto lonValue = degrees(*lon);
    if (!latValue || !lonValue) return std::nullopt;
    auto latRef = exif.findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitudeRef"));
    auto lonRef = exif.findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLongitudeRef"));
    if (latRef != exif.end() && latRef->toString().rfind("S", 0) == 0) *latValue = -*latValue;
    if (lonRef != exif.end() && lonRef->toString().rfind("W", 0) == 0) *lonValue = -*lonValue;
    if (!GPS::isOnGlobe(*latValue, *lonValue)) return std::nullopt;
    return GPS{.latitude = *latValue, .longitude = *lonValue};
}

void muteExiv2() {
    static std::once_flag quiet;
    // exiv2 writes warnings about damaged files to stderr by default.
    std::call_once(quiet, [] { Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });
}

// The first bytes, to tell a HEIF container (which exiv2 cannot open) from the rest.
std::string header(int fd) {
    std::string bytes(32, '\0');
    ssize_t n = ::pread(fd, bytes.data(), bytes.size(), 0);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return bytes;
}

}  // namespace

bool ImageLocationReader::handles(std::string_view path) {
    return handlesType(MediaTypeDatabase::shared().typeForFileName(path));
}

bool ImageLocationReader::handlesType(std::string_view type) {
    static constexpr std::string_view known[] = {
        "image/jpeg",          "image/png",         "image/tiff",           "image/webp",
        "image/heif",          "image/avif",        "image/x-adobe-dng",    "image/x-canon-cr2",
        "image/x-canon-cr3",   "image/x-canon-crw", "image/x-nikon-nef",    "image/x-nikon-nrw",
        "image/x-sony-arw",    "image/x-sony-sr2",  "image/x-olympus-orf",  "image/x-panasonic-rw2",
        "image/x-fuji-raf",    "image/x-pentax-pef", "image/x-samsung-srw", "image/x-minolta-mrw",
        "image/x-hasselblad-3fr", "image/x-epson-erf", "image/x-kodak-kdc"};
    if (type.empty()) return false;
    for (std::string_view k : known)
        if (type == k) return true;
    return false;
}

std::optional<GPS> ImageLocationReader::read(const std::string& path) {
    muteExiv2();
    try {
        RegularFileHandle file(path);
        if (!file.isOpen()) return std::nullopt;
        if (HeifExif::isHeif(header(file.fd()))) {
            auto tiff = HeifExif::tiffData(path);
            return tiff ? fromTiffData(*tiff) : std::nullopt;
        }
        auto image = Exiv2::ImageFactory::open(file.path());
        if (!image.get()) return std::nullopt;
        image->readMetadata();
        return positionIn(image->exifData());
    } catch (...) {
        // Unknown format, truncated or corrupt metadata: no position.
        return std::nullopt;
    }
}

std::optional<GPS> ImageLocationReader::fromTiffData(std::string_view tiff) {
    muteExiv2();
    try {
        Exiv2::ExifData exif;
        Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte*>(tiff.data()),
                                  static_cast<uint32_t>(tiff.size()));
        return positionIn(exif);
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace qm
