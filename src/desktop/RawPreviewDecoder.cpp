#include "desktop/RawPreviewDecoder.h"

#include "desktop/ImageOrientation.h"
#include "media/RawPreview.h"

#include <QBuffer>
#include <QImageReader>

namespace qm {

std::optional<QImage> RawPreviewDecoder::decode(const std::string& path, QSize maxSize) {
    if (maxSize.isEmpty()) return std::nullopt;
    auto preview = RawPreview::largest(path);
    if (!preview) return std::nullopt;
    QByteArray bytes = QByteArray::fromRawData(preview->data.data(), qsizetype(preview->data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // The file's orientation is the one that counts; a preview's own Exif, where it
    // has one, would turn it twice.
    reader.setAutoTransform(false);
    const QSize box = ImageOrientation::swapsSides(preview->orientation) ? maxSize.transposed() : maxSize;
    const QSize stored = reader.size();
    // Handed to the JPEG decoder before reading, so it decodes at 1/2 to 1/8 scale.
    if (stored.isValid() && (stored.width() > box.width() || stored.height() > box.height()))
        reader.setScaledSize(stored.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    if (image.width() > box.width() || image.height() > box.height())
        image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    return ImageOrientation::apply(image, preview->orientation);
}

}  // namespace qm
