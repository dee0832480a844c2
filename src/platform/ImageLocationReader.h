#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Latitude and longitude in signed decimal degrees.
struct GeoPosition {
    double latitude = 0;
    double longitude = 0;
};

// The EXIF GPS position of an image (JPEG, PNG, TIFF, WebP, HEIF and the raw
// formats exiv2 reads). Damaged files and files without a usable position
// yield none; nothing throws.
// A regular file opened for the metadata libraries, which open by path: the
// final symlink is not followed and a FIFO or device put in a file's place
// after the crawl's lstat is refused instead of blocking the read.
class RegularFileHandle {
public:
    explicit RegularFileHandle(const std::string& path);
    ~RegularFileHandle();
    RegularFileHandle(const RegularFileHandle&) = delete;
    RegularFileHandle& operator=(const RegularFileHandle&) = delete;
    bool isOpen() const { return fd_ >= 0; }
    // A path naming exactly the opened file.
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

class ImageLocationReader {
public:
    // True for the file names whose extension names an image format with EXIF.
    static bool handles(std::string_view path);
    static std::optional<GeoPosition> read(const std::string& path);
};

}  // namespace qm
