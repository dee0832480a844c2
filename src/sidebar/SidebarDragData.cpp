#include "sidebar/SidebarDragData.h"

#include <QMimeData>

#include "core/FileURL.h"
#include "commands/TagPasteboardType.h"

namespace qm {

DropInfo SidebarDragData::dropInfo(const QMimeData& mime) {
    DropInfo info;
    const QString tagType = QString::fromStdString(TagPasteboardType::pasteboardType());
    if (mime.hasFormat(tagType)) {
        QByteArray data = mime.data(tagType);
        info.items.push_back(DropItem{std::string(data.constData(), size_t(data.size())), std::nullopt});
        return info;
    }
    if (mime.hasFormat(QStringLiteral("text/uri-list"))) {
        const QByteArray list = mime.data(QStringLiteral("text/uri-list"));
        for (QByteArray line : list.split('\n')) {
            line = line.trimmed();
            if (line.isEmpty() || line.startsWith('#')) continue;  // RFC 2483 comments
            info.items.push_back(DropItem{std::nullopt, std::string(line.constData(), size_t(line.size()))});
        }
    }
    return info;
}

QMimeData* SidebarDragData::forTag(const std::string& tag) {
    auto* mime = new QMimeData;
    std::string json = TagPasteboardType(tag).pasteboardPropertyList();
    mime->setData(QString::fromStdString(TagPasteboardType::pasteboardType()),
                  QByteArray(json.data(), qsizetype(json.size())));
    return mime;
}

QMimeData* SidebarDragData::forPaths(const std::vector<std::string>& paths) {
    auto* mime = new QMimeData;
    QByteArray list;
    for (const std::string& p : paths) {
        std::string url = fileURLForPath(p);
        list.append(url.data(), qsizetype(url.size()));
        list.append("\r\n");
    }
    mime->setData(QStringLiteral("text/uri-list"), list);
    return mime;
}

}  // namespace qm
