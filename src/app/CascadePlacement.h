#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <vector>

namespace qm {

// Where a new browser window goes when it cascades from the key window:
// its top-left moved right and down by `offset` (the height of the key
// window's title bar). A window that would end beyond the right edge of the
// screen's visible area moves left by (visible width - its width); one that
// would end below the bottom moves up by (visible height - its height).
// Screen coordinates grow rightwards and downwards.
QPoint cascadeOrigin(const QRect& keyFrame, int offset, const QSize& newFrameSize, const QRect& visible);

// Where a restored window goes: onto the screen its saved rectangle overlaps
// most (the first screen when it overlaps none, as when its monitor has been
// unplugged since), no larger than that screen's visible area and wholly
// inside it. `screens` are the visible areas, the primary screen's first;
// with none the saved rectangle is kept.
QRect placedOnScreen(const QRect& saved, const std::vector<QRect>& screens);

}  // namespace qm
