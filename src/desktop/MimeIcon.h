#pragma once

#include <QImage>
#include <QString>

#include <optional>

namespace qm {

// The icon that stands in for a file without a thumbnail: its MIME type's icon from
// the icon theme (the type's icon name, then its generic icon name), drawn into a
// 256 x 256 image; a plain page when the theme has neither. Never a null image.
class MimeIcon {
public:
    static constexpr int kSize = 256;

    // Main thread only: Qt's icon loader and pixmaps belong to the GUI thread.
    // Without a QGuiApplication the plain page is returned. Cached per type.
    static QImage forType(const QString& mimeTypeName);

    // Any thread: the image forType() made earlier for this type, if any.
    static std::optional<QImage> cached(const QString& mimeTypeName);

    // Any thread: the plain page.
    static QImage generic();
};

}  // namespace qm
