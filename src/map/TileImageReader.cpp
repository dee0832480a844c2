#include "map/TileImageReader.h"

#include <QBuffer>
#include <QImageReader>

#include "map/TilePolicy.h"

namespace qm {

std::optional<TileImageReader::Format> TileImageReader::formatOf(const QByteArray& bytes) {
    if (bytes.startsWith(QByteArrayLiteral("\x89PNG\r\n\x1a\n"))) return Format::png;
    if (bytes.startsWith(QByteArrayLiteral("\xff\xd8\xff"))) return Format::jpeg;
    if (bytes.size() >= 12 && bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP") return Format::webp;
    return std::nullopt;
}

std::optional<QImage> TileImageReader::read(const QByteArray& bytes) {
    const std::optional<Format> format = formatOf(bytes);
    if (!format || bytes.size() > TilePolicy::maxResponseBytes) return std::nullopt;
    const char* name = *format == Format::png ? "png" : *format == Format::jpeg ? "jpeg" : "webp";
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    // The plugin is chosen by us alone: no other reader sees these bytes.
    QImageReader reader(&buffer, name);
    reader.setDecideFormatFromContent(false);
    reader.setAutoDetectImageFormat(false);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || size.width() > TilePolicy::maxImageSide ||
        size.height() > TilePolicy::maxImageSide)
        return std::nullopt;
    QImage image;
    if (!reader.read(&image) || image.isNull()) return std::nullopt;
    // The header and the pixels must agree (a file that grows on decoding).
    if (image.width() > TilePolicy::maxImageSide || image.height() > TilePolicy::maxImageSide)
        return std::nullopt;
    return image;
}

}  // namespace qm
