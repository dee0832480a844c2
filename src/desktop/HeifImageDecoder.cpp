#include "desktop/HeifImageDecoder.h"

#include "desktop/ImageOrientation.h"
#include "media/ExifOrientation.h"
#include "media/HeifExif.h"
#include "media/RegularFileHandle.h"

#include <libheif/heif.h>

#include <memory>
#include <vector>

namespace qm {
namespace {

struct ContextDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageDeleter {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
using Handle = std::unique_ptr<heif_image_handle, HandleDeleter>;

QSize sizeOf(const heif_image_handle* h) {
    return {heif_image_handle_get_width(h), heif_image_handle_get_height(h)};
}

// The size the result will have: the image fitted within the box, never enlarged.
QSize targetSize(QSize image, QSize box) {
    if (image.width() <= box.width() && image.height() <= box.height()) return image;
    return image.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

// The smallest thumbnail item that still covers the target, else none.
Handle coveringThumbnail(const heif_image_handle* primary, QSize target) {
    const int n = heif_image_handle_get_number_of_thumbnails(primary);
    if (n <= 0) return nullptr;
    std::vector<heif_item_id> ids(static_cast<size_t>(n));
    heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), n);
    Handle best;
    for (heif_item_id id : ids) {
        heif_image_handle* raw = nullptr;
        if (heif_image_handle_get_thumbnail(primary, id, &raw).code != heif_error_Ok) continue;
        Handle thumb(raw);
        const QSize s = sizeOf(thumb.get());
        // Either orientation: a thumbnail item may be stored turned like the image.
        const bool covers = (s.width() >= target.width() && s.height() >= target.height()) ||
                            (s.width() >= target.height() && s.height() >= target.width());
        if (covers && (!best || qint64(s.width()) * s.height() <
                                    qint64(sizeOf(best.get()).width()) * sizeOf(best.get()).height()))
            best = std::move(thumb);
    }
    return best;
}

}  // namespace

std::optional<QImage> HeifImageDecoder::decode(const std::string& path, QSize maxSize) {
    if (maxSize.isEmpty()) return std::nullopt;
    RegularFileHandle file(path);
    if (!file.isOpen()) return std::nullopt;
    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context ||
        heif_context_read_from_file(context.get(), file.path().c_str(), nullptr).code != heif_error_Ok)
        return std::nullopt;
    heif_image_handle* raw = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok) return std::nullopt;
    Handle primary(raw);
    const QSize full = sizeOf(primary.get());
    if (full.isEmpty()) return std::nullopt;

    // Files whose boxes do not turn the image may still say how to in their Exif
    // (heif-enc keeps a JPEG's orientation there). A file whose boxes turn it a
    // quarter has its Exif agree and must not be turned twice.
    int orientation = 1;
    if (heif_image_handle_get_ispe_width(primary.get()) == full.width()) {
        if (auto tiff = HeifExif::tiffData(primary.get())) orientation = ExifOrientation::fromTiffData(*tiff);
    }
    // The box the image must fit as stored, before the Exif turn.
    const QSize box = ImageOrientation::swapsSides(orientation) ? maxSize.transposed() : maxSize;
    const QSize target = targetSize(full, box);

    Handle thumbnail = coveringThumbnail(primary.get(), target);
    const heif_image_handle* chosen = thumbnail ? thumbnail.get() : primary.get();
    const bool alpha = heif_image_handle_has_alpha_channel(chosen);
    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    // The file's own rotation and mirroring (irot, imir) are applied by libheif.
    if (heif_decode_image(chosen, &decoded, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get())
            .code != heif_error_Ok)
        return std::nullopt;
    std::unique_ptr<heif_image, ImageDeleter> image(decoded);
    int stride = 0;
    const uint8_t* pixels = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!pixels || w <= 0 || h <= 0 || stride <= 0) return std::nullopt;
    // A view of libheif's buffer: the scaled or copied image below outlives it.
    const QImage view(pixels, w, h, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);

    const QSize fit = targetSize(view.size(), box);
    QImage result =
        fit != view.size() ? view.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation) : view.copy();
    result = result.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    return ImageOrientation::apply(result, orientation);
}

}  // namespace qm
