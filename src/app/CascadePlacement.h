#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace qm {

// Where a new browser window goes when it cascades from the key window:
// its top-left moved right and down by `offset` (the height of the key
// window's title bar). A window that would end beyond the right edge of the
// screen's visible area moves left by (visible width - its width); one that
// would end below the bottom moves up by (visible height - its height).
// Screen coordinates grow rightwards and downwards.
QPoint cascadeOrigin(const QRect& keyFrame, int offset, const QSize& newFrameSize, const QRect& visible);

}  // namespace qm
