#include "app/CascadePlacement.h"

#include <algorithm>

namespace qm {

QPoint cascadeOrigin(const QRect& keyFrame, int offset, const QSize& newFrameSize, const QRect& visible) {
    int x = keyFrame.x() + offset;
    int y = keyFrame.y() + offset;
    // QRect's right() and bottom() are one short of the edge.
    if (x + newFrameSize.width() > visible.x() + visible.width()) x -= visible.width() - newFrameSize.width();
    if (y + newFrameSize.height() > visible.y() + visible.height()) y -= visible.height() - newFrameSize.height();
    return {x, y};
}

QRect placedOnScreen(const QRect& saved, const std::vector<QRect>& screens) {
    if (screens.empty()) return saved;
    const QRect* best = &screens.front();
    long long bestArea = 0;
    for (const QRect& screen : screens) {
        const QRect common = screen.intersected(saved);
        const long long area = common.isEmpty() ? 0 : static_cast<long long>(common.width()) * common.height();
        if (area > bestArea) {
            bestArea = area;
            best = &screen;
        }
    }
    const QRect& screen = *best;
    const int width = std::clamp(saved.width(), 1, std::max(1, screen.width()));
    const int height = std::clamp(saved.height(), 1, std::max(1, screen.height()));
    const int x = std::clamp(saved.x(), screen.x(), screen.x() + screen.width() - width);
    const int y = std::clamp(saved.y(), screen.y(), screen.y() + screen.height() - height);
    return {x, y, width, height};
}

}  // namespace qm
