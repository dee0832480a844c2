#pragma once

#include <QImage>
#include <QSize>

#include <optional>
#include <string>

namespace qm {

// The first page of a PDF rendered with Poppler at the size it is shown, so a
// thumbnail costs one small raster however large the page claims to be.
class PdfPageRenderer {
public:
    // The page fitted within maxSize on white paper; absent for damaged, locked or
    // empty documents and for pages whose size is not a plausible one. Reentrant
    // (each call opens its own document).
    static std::optional<QImage> render(const std::string& path, QSize maxSize);

    // The largest side a page may claim, in points: the format's limit of 14 400
    // units at a user unit of up to 75 (about 381 m).
    static constexpr double kMaxPageSide = 14400.0 * 75.0;
};

}  // namespace qm
