#include "tilegrid/TileGridDragDrop.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QImage>
#include <QMimeData>
#include <QWidget>

#include <algorithm>

#include "desktop/FileDragData.h"
#include "tilegrid/TileContentsCache.h"

namespace qm {

TileGridDragDrop::TileGridDragDrop(QWidget* viewport, TileGridController& controller,
                                   std::function<void()> targetChanged)
    : controller_(controller), targetChanged_(std::move(targetChanged)) {
    viewport->setAcceptDrops(true);
    viewport->installEventFilter(this);
}

bool TileGridDragDrop::eventFilter(QObject*, QEvent* event) {
    switch (event->type()) {
    case QEvent::DragEnter: enter(static_cast<QDragEnterEvent&>(*event)); return true;
    case QEvent::DragMove: move(static_cast<QDragMoveEvent&>(*event)); return true;
    case QEvent::DragLeave: setTarget(false); return true;
    case QEvent::Drop: drop(static_cast<QDropEvent&>(*event)); return true;
    default: return false;
    }
}

QPixmap TileGridDragDrop::dragPixmap(const QImage& thumbnail) {
    const int side = std::min(thumbnail.width(), thumbnail.height());
    QImage square = thumbnail.copy((thumbnail.width() - side) / 2, (thumbnail.height() - side) / 2, side, side);
    return QPixmap::fromImage(square.scaled(96, 96, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void TileGridDragDrop::startDrag(QWidget* source, const std::vector<QuickString>& paths) {
    if (paths.empty()) return;
    auto* drag = new QDrag(source);
    drag->setMimeData(FileDragData::forPaths(paths));
    if (const TileContents* c = TileContentsCache::shared().get(paths.front()); c && c->image) {
        drag->setPixmap(dragPixmap(*c->image));
        drag->setHotSpot(QPoint(48, 48));
    }
    drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
}

bool TileGridDragDrop::canDrop(const QMimeData* data) const {
    if (!data || !FileDragData::hasFiles(*data)) return false;
    return controller_.acceptsDrop(FileDragData::dropInfo(*data).filePaths());
}

void TileGridDragDrop::setTarget(bool on) {
    if (on == isTarget_) return;
    isTarget_ = on;
    if (targetChanged_) targetChanged_();
}

void TileGridDragDrop::enter(QDragEnterEvent& event) {
    // Planned once per drag: the files and the node stay the same while it
    // moves over the grid; only the modifiers change.
    plan_ = controller_.planDrop(FileDragData::dropInfo(event));
    move(event);
}

void TileGridDragDrop::move(QDragMoveEvent& event) {
    DropInfo actions;
    FileDragData::readActions(event, actions);
    const std::optional<DropOperation> operation = plan_.operation(actions);
    setTarget(operation.has_value());
    if (operation) {
        event.setDropAction(*operation == DropOperation::move ? Qt::MoveAction : Qt::CopyAction);
        event.accept();
    } else {
        event.ignore();
    }
}

void TileGridDragDrop::drop(QDropEvent& event) {
    DropOperation performed = DropOperation::copy;
    if (performDrop(FileDragData::dropInfo(event), &performed))
        FileDragData::reportPerformed(event, performed);
    else
        event.ignore();
}

bool TileGridDragDrop::performDrop(const DropInfo& drop, DropOperation* performed) {
    setTarget(false);
    plan_ = {};
    return controller_.drop(drop, performed);
}

}  // namespace qm
