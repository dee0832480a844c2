#include "media/RawPreview.h"

#include "media/RegularFileHandle.h"

#include <exiv2/exiv2.hpp>

#include <cstdint>
#include <mutex>

namespace qm {
namespace {

int orientationIn(const Exiv2::ExifData& exif) {
    auto it = Exiv2::orientation(exif);
    if (it == exif.end() || it->count() < 1) return 1;
    const long v = it->toLong(0);
    return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
}

void muteExiv2() {
    static std::once_flag quiet;
    std::call_once(quiet, [] { Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });
}

}  // namespace

std::optional<RawPreview> RawPreview::largest(const std::string& path) {
    muteExiv2();
    try {
        RegularFileHandle file(path);
        if (!file.isOpen()) return std::nullopt;
        auto image = Exiv2::ImageFactory::open(file.path());
        if (!image.get()) return std::nullopt;
        image->readMetadata();
        Exiv2::PreviewManager manager(*image);
        const Exiv2::PreviewPropertiesList list = manager.getPreviewProperties();
        const Exiv2::PreviewProperties* best = nullptr;
        for (const auto& p : list) {
            // Sizes come from the file: compared as 64-bit so that hostile ones do not wrap.
            const uint64_t area = uint64_t(p.width_) * p.height_;
            if (!best || area > uint64_t(best->width_) * best->height_ ||
                (area == uint64_t(best->width_) * best->height_ && p.size_ > best->size_))
                best = &p;
        }
        if (!best) return std::nullopt;
        Exiv2::PreviewImage preview = manager.getPreviewImage(*best);
        if (preview.size() == 0) return std::nullopt;
        RawPreview out;
        out.data.assign(reinterpret_cast<const char*>(preview.pData()), preview.size());
        out.mimeType = preview.mimeType();
        out.width = static_cast<int>(preview.width());
        out.height = static_cast<int>(preview.height());
        out.orientation = orientationIn(image->exifData());
        return out;
    } catch (...) {
        // Damaged or unknown files: no preview.
        return std::nullopt;
    }
}

}  // namespace qm
