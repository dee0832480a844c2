#include "desktop/HeifImageDecoder.h"

#include "desktop/DecodeLimits.h"
#include "desktop/ImageOrientation.h"
#include "media/ExifOrientation.h"
#include "media/HeifExif.h"
#include "media/RegularFileHandle.h"

#include <libheif/heif.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

// libheif reads through the descriptor, at positions of its own.
struct DescriptorReader {
    int fd = -1;
    int64_t position = 0;
    int64_t size = 0;
};

int64_t readerPosition(void* userdata) {
    return static_cast<DescriptorReader*>(userdata)->position;
}

int readerRead(void* data, size_t size, void* userdata) {
    auto* r = static_cast<DescriptorReader*>(userdata);
    auto* out = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::pread(r->fd, out, size, r->position);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 1;
        out += n;
        size -= size_t(n);
        r->position += n;
    }
    return 0;
}

int readerSeek(int64_t position, void* userdata) {
    auto* r = static_cast<DescriptorReader*>(userdata);
    if (position < 0 || position > r->size) return 1;
    r->position = position;
    return 0;
}

heif_reader_grow_status readerWait(int64_t target, void* userdata) {
    return target <= static_cast<DescriptorReader*>(userdata)->size ? heif_reader_grow_status_size_reached
                                                                     : heif_reader_grow_status_size_beyond_eof;
}

const heif_reader kDescriptorReader = {1, readerPosition, readerRead, readerSeek, readerWait};

bool isTransient(const heif_error& e) {
    return e.code == heif_error_Memory_allocation_error;
}

}  // namespace

std::optional<QImage> HeifImageDecoder::decode(const std::string& path, QSize maxSize) {
    RegularFileHandle file(path);
    if (!file.isOpen()) return std::nullopt;
    return decode(file.fd(), maxSize);
}

std::optional<QImage> HeifImageDecoder::decode(int fd, QSize maxSize, DecodeFailure* failure) {
    if (failure) *failure = DecodeFailure::file;
    auto failed = [failure](const heif_error& e) -> std::optional<QImage> {
        if (failure && isTransient(e)) *failure = DecodeFailure::transient;
        return std::nullopt;
    };
    if (maxSize.isEmpty() || fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    DescriptorReader reader{fd, 0, st.st_size};
    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context) return failed({heif_error_Memory_allocation_error, heif_suberror_Unspecified, ""});
    if (heif_error e = heif_context_read_from_reader(context.get(), &kDescriptorReader, &reader, nullptr);
        e.code != heif_error_Ok)
        return failed(e);
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
    // The picture that would be decoded decides; a small thumbnail item of a
    // huge photo is still fine.
    if (!DecodeLimits::allowsImage(sizeOf(chosen))) return std::nullopt;
    const bool alpha = heif_image_handle_has_alpha_channel(chosen);
    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    // The file's own rotation and mirroring (irot, imir) are applied by libheif.
    if (heif_error e = heif_decode_image(chosen, &decoded, heif_colorspace_RGB,
                                         alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                                         options.get());
        e.code != heif_error_Ok)
        return failed(e);
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
