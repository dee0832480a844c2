#include "desktop/FileDragData.h"

#include <QMimeData>

#include "core/UriList.h"

namespace qm {

namespace {

QMimeData* mimeWithList(const std::string& list) {
    auto* mime = new QMimeData;
    mime->setData(FileDragData::mimeType(), QByteArray(list.data(), qsizetype(list.size())));
    return mime;
}

}  // namespace

const QString& FileDragData::mimeType() {
    static const QString type = QStringLiteral("text/uri-list");
    return type;
}

bool FileDragData::hasFiles(const QMimeData& mime) {
    return mime.hasFormat(mimeType());
}

QMimeData* FileDragData::forPaths(const std::vector<std::string>& paths) {
    return mimeWithList(UriList::forPaths(paths));
}

QMimeData* FileDragData::forPaths(const std::vector<QuickString>& paths) {
    return mimeWithList(UriList::forPaths(paths));
}

DropInfo FileDragData::dropInfo(const QMimeData& mime) {
    DropInfo info;
    if (!hasFiles(mime)) return info;
    const QByteArray list = mime.data(mimeType());
    for (std::string& uri : UriList::uris(std::string_view(list.constData(), size_t(list.size()))))
        info.items.push_back(DropItem{std::nullopt, std::move(uri)});
    return info;
}

}  // namespace qm
