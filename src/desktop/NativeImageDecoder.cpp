#include "desktop/NativeImageDecoder.h"

#include "desktop/HeifImageDecoder.h"
#include "desktop/PdfPageRenderer.h"
#include "desktop/RawPreviewDecoder.h"

#include <QStringList>

namespace qm {

NativeImageDecoder::Kind NativeImageDecoder::kindOf(const QMimeType& type) {
    if (!type.isValid()) return Kind::none;
    auto is = [&](const QString& name) { return type.name() == name || type.inherits(name); };
    if (is(QStringLiteral("image/heif")) || is(QStringLiteral("image/avif"))) return Kind::heif;
    // Every camera format of the shared MIME database derives from this one; DNG
    // and a few others also derive from TIFF, which Qt would read as a tiny or
    // undeveloped image.
    if (is(QStringLiteral("image/x-dcraw"))) return Kind::raw;
    if (is(QStringLiteral("application/pdf"))) return Kind::pdf;
    return Kind::none;
}

std::optional<QImage> NativeImageDecoder::decode(const std::string& path, Kind kind, QSize maxSize, int fd,
                                                 DecodeFailure* failure) {
    if (failure) *failure = DecodeFailure::file;
    switch (kind) {
        case Kind::heif:
            return fd >= 0 ? HeifImageDecoder::decode(fd, maxSize, failure) : HeifImageDecoder::decode(path, maxSize);
        case Kind::raw:
            return RawPreviewDecoder::decode(path, maxSize);
        case Kind::pdf:
            return PdfPageRenderer::render(path, maxSize);
        case Kind::none:
            break;
    }
    return std::nullopt;
}

}  // namespace qm
