#pragma once

#include <QObject>
#include <QPixmap>

#include <functional>
#include <vector>

#include "commands/DropInfo.h"
#include "core/QuickString.h"
#include "tilegrid/TileGridController.h"

class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QImage;
class QMimeData;
class QWidget;

namespace qm {

// The grid's drag and drop with the desktop: the selected files dragged out
// under the first one's picture, and files dropped in, planned once when the
// drag enters and outlined while the drop would do something. What a drop
// does is the controller's to decide. It takes the drag events of the
// grid's viewport, the widget under the pointer.
class TileGridDragDrop : public QObject {
public:
    // targetChanged: the outline comes or goes.
    TileGridDragDrop(QWidget* viewport, TileGridController& controller, std::function<void()> targetChanged);

    // Drags the files out of `source` (our own drags allow copy and move).
    static void startDrag(QWidget* source, const std::vector<QuickString>& paths);
    // The drag's picture: the middle square of the thumbnail, 96 pixels wide.
    static QPixmap dragPixmap(const QImage& thumbnail);

    // Whether a drop of this data onto the grid would do anything.
    bool canDrop(const QMimeData* data) const;
    // While a drag that would be taken is over the grid.
    bool isTarget() const { return isTarget_; }

    // Moves, copies or tags the files as the drop asks; whether it was taken.
    bool performDrop(const DropInfo& drop, DropOperation* performed);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setTarget(bool on);
    void enter(QDragEnterEvent& event);
    void move(QDragMoveEvent& event);
    void drop(QDropEvent& event);

    TileGridController& controller_;
    std::function<void()> targetChanged_;
    TileGridController::DropPlan plan_;  // made once when a drag enters
    bool isTarget_ = false;
};

}  // namespace qm
