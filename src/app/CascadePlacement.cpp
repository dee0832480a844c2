#include "app/CascadePlacement.h"

namespace qm {

QPoint cascadeOrigin(const QRect& keyFrame, int offset, const QSize& newFrameSize, const QRect& visible) {
    int x = keyFrame.x() + offset;
    int y = keyFrame.y() + offset;
    // QRect's right() and bottom() are one short of the edge.
    if (x + newFrameSize.width() > visible.x() + visible.width()) x -= visible.width() - newFrameSize.width();
    if (y + newFrameSize.height() > visible.y() + visible.height()) y -= visible.height() - newFrameSize.height();
    return {x, y};
}

}  // namespace qm
