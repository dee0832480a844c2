#include "desktop/PdfPageRenderer.h"

#include <QFile>
#include <QVariant>

#include <poppler-qt6.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cmath>
#include <mutex>

#include "core/UniqueFd.h"

namespace qm {

std::optional<QImage> PdfPageRenderer::render(const std::string& path, QSize maxSize) {
    if (maxSize.isEmpty()) return std::nullopt;
    static std::once_flag quiet;
    // Poppler reports every damaged object on stderr.
    std::call_once(quiet, [] { Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, {}); });

    // Opened by its bytes: a name that is not UTF-8 does not survive a QString.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    QFile file;
    if (!file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) return std::nullopt;
    std::unique_ptr<Poppler::Document> document = Poppler::Document::load(&file);
    if (!document || document->isLocked() || document->numPages() < 1) return std::nullopt;
    std::unique_ptr<Poppler::Page> page = document->page(0);
    if (!page) return std::nullopt;
    const QSizeF points = page->pageSizeF();
    // A hostile page size must not turn into a huge or degenerate raster.
    if (!std::isfinite(points.width()) || !std::isfinite(points.height()) || points.width() < 1.0 ||
        points.height() < 1.0 || points.width() > kMaxPageSide || points.height() > kMaxPageSide)
        return std::nullopt;
    const double scale = std::min(maxSize.width() / points.width(), maxSize.height() / points.height());
    const double dpi = 72.0 * scale;
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
    document->setPaperColor(Qt::white);
    QImage image = page->renderToImage(dpi, dpi);
    if (image.isNull()) return std::nullopt;
    // Rounding may give a pixel more than the box.
    if (image.width() > maxSize.width() || image.height() > maxSize.height())
        image = image.scaled(maxSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

}  // namespace qm
