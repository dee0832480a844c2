#include "desktop/ScaledImageDecoder.h"

#include <QImageReader>

#include "desktop/DecodeLimits.h"

namespace qm {
namespace {

QImage fitted(QImage image, QSize maxSize) {
    if (image.width() > maxSize.width() || image.height() > maxSize.height())
        image = image.scaled(maxSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

// A decoded thumbnail is kept as 32-bit pixels, which PNG writing and painting use.
QImage normalised(QImage image) {
    if (image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_RGB32 ||
        image.format() == QImage::Format_ARGB32_Premultiplied)
        return image;
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

std::optional<QImage> scaledRead(QImageReader& reader, QSize maxSize, DecodeFailure* failure) {
    if (failure) *failure = DecodeFailure::file;
    if (maxSize.isEmpty()) return std::nullopt;
    DecodeLimits::applyToQt();
    reader.setAutoTransform(true);
    QSize stored = reader.size();
    if (stored.isValid() && !DecodeLimits::allowsImage(stored)) return std::nullopt;
    // The requested size applies before orientation is applied: a quarter turn swaps
    // the sides of the box the stored image must fit.
    QSize storedBox = maxSize;
    if (reader.transformation().testFlag(QImageIOHandler::TransformationRotate90)) storedBox.transpose();
    if (stored.isValid() && (stored.width() > storedBox.width() || stored.height() > storedBox.height()))
        reader.setScaledSize(stored.scaled(storedBox, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    if (image.isNull()) {
        if (failure && reader.error() == QImageReader::DeviceError) *failure = DecodeFailure::transient;
        return std::nullopt;
    }
    // Formats without a known size up front, or a decoder that ignored the request.
    return normalised(fitted(std::move(image), maxSize));
}

}  // namespace

std::optional<QImage> ScaledImageDecoder::decode(const QString& path, QSize maxSize) {
    QImageReader reader(path);
    return scaledRead(reader, maxSize, nullptr);
}

std::optional<QImage> ScaledImageDecoder::decode(QIODevice* device, QSize maxSize, DecodeFailure* failure) {
    if (failure) *failure = DecodeFailure::file;
    if (!device) return std::nullopt;
    QImageReader reader(device);
    return scaledRead(reader, maxSize, failure);
}

std::optional<QImage> ScaledImageDecoder::decodeFullThenScale(const QString& path, QSize maxSize) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    return normalised(fitted(std::move(image), maxSize));
}

}  // namespace qm
