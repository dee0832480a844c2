#include "desktop/MimeIcon.h"

#include <QDir>
#include <QGuiApplication>
#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QStandardPaths>

#include <absl/base/thread_annotations.h>

#include "core/Mutex.h"

namespace qm {
namespace {

// Icons drawn once per type, for any thread.
struct IconCache {
    Mutex mutex;
    QHash<QString, QImage> images ABSL_GUARDED_BY(mutex);
};
IconCache& iconCache() {
    static IconCache c;
    return c;
}

// Without a desktop platform theme (bare window managers, offscreen) Qt knows no
// icon theme and searches only its resources; use the standard theme directories
// and the themes this program depends on instead of showing no icons at all.
void ensureIconTheme() {
    static bool done = false;
    if (done) return;
    done = true;
    QStringList paths = QIcon::themeSearchPaths();
    QStringList dirs = {QDir::homePath() + QStringLiteral("/.icons")};
    for (const QString& d : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        dirs << d + QStringLiteral("/icons");
    dirs << QStringLiteral("/usr/share/pixmaps");
    for (const QString& d : dirs)
        if (!paths.contains(d) && QDir(d).exists()) paths << d;
    QIcon::setThemeSearchPaths(paths);
    auto installed = [&](const QString& theme) {
        for (const QString& d : paths)
            if (QDir(d + u'/' + theme).exists(QStringLiteral("index.theme"))) return true;
        return false;
    };
    if (QIcon::themeName().isEmpty() || !installed(QIcon::themeName())) {
        for (const char* theme : {"Adwaita", "breeze", "hicolor"}) {
            if (installed(QString::fromLatin1(theme))) {
                QIcon::setThemeName(QString::fromLatin1(theme));
                break;
            }
        }
    }
    if (QIcon::fallbackThemeName().isEmpty()) QIcon::setFallbackThemeName(QStringLiteral("hicolor"));
}

QImage drawn(const QIcon& icon) {
    QImage out(MimeIcon::kSize, MimeIcon::kSize, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPixmap pixmap = icon.pixmap(QSize(MimeIcon::kSize, MimeIcon::kSize));
    if (pixmap.isNull()) return {};
    QImage image = pixmap.toImage();
    // Centred, scaled to the square when the theme has no size this large.
    QSize size = image.size().scaled(out.size(), Qt::KeepAspectRatio);
    QPainter p(&out);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRect(QPoint((out.width() - size.width()) / 2, (out.height() - size.height()) / 2), size),
                image);
    return out;
}

}  // namespace

QImage MimeIcon::generic() {
    QImage out(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    // A sheet with a folded corner.
    const qreal l = 56, t = 24, r = 200, b = 232, fold = 48;
    QPainterPath sheet;
    sheet.moveTo(l, t);
    sheet.lineTo(r - fold, t);
    sheet.lineTo(r, t + fold);
    sheet.lineTo(r, b);
    sheet.lineTo(l, b);
    sheet.closeSubpath();
    p.setPen(QPen(QColor(120, 120, 120), 4));
    p.setBrush(QColor(248, 248, 248));
    p.drawPath(sheet);
    QPainterPath corner;
    corner.moveTo(r - fold, t);
    corner.lineTo(r - fold, t + fold);
    corner.lineTo(r, t + fold);
    p.setBrush(QColor(210, 210, 210));
    p.drawPath(corner);
    return out;
}

std::optional<QImage> MimeIcon::cached(const QString& mimeTypeName) {
    IconCache& c = iconCache();
    MutexLock lock(c.mutex);
    auto it = c.images.constFind(mimeTypeName);
    if (it == c.images.constEnd()) return std::nullopt;
    return *it;
}

QImage MimeIcon::forType(const QString& mimeTypeName) {
    if (auto hit = cached(mimeTypeName)) return *hit;
    QImage image;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        ensureIconTheme();
        QMimeType type = QMimeDatabase().mimeTypeForName(mimeTypeName);
        QStringList names;
        if (type.isValid()) names << type.iconName() << type.genericIconName();
        // The theme's own generic document icons, before drawing one.
        names << QStringLiteral("application-x-generic") << QStringLiteral("text-x-generic")
              << QStringLiteral("unknown");
        for (const QString& name : names) {
            if (name.isEmpty()) continue;
            QIcon icon = QIcon::fromTheme(name);
            if (!icon.isNull() && !(image = drawn(icon)).isNull()) break;
        }
    }
    if (image.isNull()) image = generic();
    IconCache& c = iconCache();
    MutexLock lock(c.mutex);
    c.images.insert(mimeTypeName, image);
    return image;
}

}  // namespace qm
