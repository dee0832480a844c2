#include "sidebar/SidebarDragData.h"

#include <QMimeData>

#include "commands/TagPasteboardType.h"
#include "desktop/FileDragData.h"

namespace qm {

DropInfo SidebarDragData::dropInfo(const QMimeData& mime) {
    const QString tagType = QString::fromStdString(TagPasteboardType::pasteboardType());
    if (mime.hasFormat(tagType)) {
        QByteArray data = mime.data(tagType);
        DropInfo tag;
        tag.items.push_back(DropItem{std::string(data.constData(), size_t(data.size())), std::nullopt});
        return tag;
    }
    return FileDragData::dropInfo(mime);
}

QMimeData* SidebarDragData::forTag(const std::string& tag) {
    auto* mime = new QMimeData;
    std::string json = TagPasteboardType(tag).pasteboardPropertyList();
    mime->setData(QString::fromStdString(TagPasteboardType::pasteboardType()),
                  QByteArray(json.data(), qsizetype(json.size())));
    return mime;
}

}  // namespace qm
