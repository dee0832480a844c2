#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

namespace qm {

// Decodes the bytes of a tile, from a server or from the disk cache. Only
// PNG, JPEG and WebP are read (told apart by their signatures, never by what
// a server claims), and only up to the tile policy's largest side, checked
// from the header before anything is decoded: a small file declaring a huge
// image is refused without allocating it. Safe on any thread.
class TileImageReader {
public:
    enum class Format { png, jpeg, webp };

    static std::optional<Format> formatOf(const QByteArray& bytes);
    // The image, or none for anything refused or undecodable.
    static std::optional<QImage> read(const QByteArray& bytes);
};

}  // namespace qm
