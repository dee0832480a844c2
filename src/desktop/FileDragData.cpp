#include "desktop/FileDragData.h"

#include <QDropEvent>
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

DropInfo FileDragData::dropInfo(const QDropEvent& event) {
    DropInfo info = event.mimeData() ? dropInfo(*event.mimeData()) : DropInfo();
    readActions(event, info);
    return info;
}

void FileDragData::readActions(const QDropEvent& event, DropInfo& info) {
    const Qt::DropActions offered = event.possibleActions();
    info.sourceAllowsMove = offered.testFlag(Qt::MoveAction);
    info.sourceAllowsCopy = offered.testFlag(Qt::CopyAction);
    // A source offering nothing we know still proposes one action; that one.
    if (!info.sourceAllowsMove && !info.sourceAllowsCopy) {
        info.sourceAllowsMove = event.proposedAction() == Qt::MoveAction;
        info.sourceAllowsCopy = event.proposedAction() == Qt::CopyAction;
    }
    const Qt::KeyboardModifiers mods = event.modifiers();
    if (mods.testFlag(Qt::ControlModifier) && !mods.testFlag(Qt::ShiftModifier))
        info.requested = DropOperation::copy;
    else if (mods.testFlag(Qt::ShiftModifier) && !mods.testFlag(Qt::ControlModifier))
        info.requested = DropOperation::move;
    else
        info.requested.reset();
}

void FileDragData::reportPerformed(QDropEvent& event, DropOperation performed) {
    event.setDropAction(performed == DropOperation::move ? Qt::MoveAction : Qt::CopyAction);
    event.accept();
}

}  // namespace qm
