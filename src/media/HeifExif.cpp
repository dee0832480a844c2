#include "media/HeifExif.h"

#include "media/RegularFileHandle.h"

#include <libheif/heif.h>

#include <cstdint>
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

}  // namespace

bool HeifExif::isHeif(std::string_view header) {
    if (header.size() < 12) return false;
    const heif_filetype_result r =
        heif_check_filetype(reinterpret_cast<const uint8_t*>(header.data()), static_cast<int>(header.size()));
    return r == heif_filetype_yes_supported || r == heif_filetype_yes_unsupported;
}

std::optional<std::string> HeifExif::tiffData(const heif_image_handle* image) {
    if (!image) return std::nullopt;
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(image, "Exif", &id, 1) < 1) return std::nullopt;
    const size_t size = heif_image_handle_get_metadata_size(image, id);
    // The block starts with a 4-byte big-endian offset from its end to the TIFF
    // header, usually 6 for an "Exif\0\0" prefix.
    if (size < 4 + 8) return std::nullopt;
    std::string data(size, '\0');
    if (heif_image_handle_get_metadata(image, id, data.data()).code != heif_error_Ok) return std::nullopt;
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    const uint64_t offset = (uint64_t(b[0]) << 24) | (uint64_t(b[1]) << 16) | (uint64_t(b[2]) << 8) | b[3];
    if (offset > size - 4 - 8) return std::nullopt;
    std::string tiff = data.substr(4 + offset);
    // Some writers give offset 0 but still put the prefix in.
    if (tiff.compare(0, 6, std::string_view("Exif\0\0", 6)) == 0) tiff.erase(0, 6);
    if (tiff.size() < 8 || !(tiff.compare(0, 2, "II") == 0 || tiff.compare(0, 2, "MM") == 0))
        return std::nullopt;
    return tiff;
}

std::optional<std::string> HeifExif::tiffData(const std::string& path) {
    RegularFileHandle file(path);
    if (!file.isOpen()) return std::nullopt;
    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context) return std::nullopt;
    if (heif_context_read_from_file(context.get(), file.path().c_str(), nullptr).code != heif_error_Ok)
        return std::nullopt;
    heif_image_handle* raw = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok) return std::nullopt;
    std::unique_ptr<heif_image_handle, HandleDeleter> primary(raw);
    return tiffData(primary.get());
}

}  // namespace qm
