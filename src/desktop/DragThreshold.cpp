#include "desktop/DragThreshold.h"

#include <QPointF>

namespace qm {

bool DragThreshold::reached(const QPointF& from, const QPointF& to) {
    const QPointF d = to - from;
    return d.x() * d.x() + d.y() * d.y() >= distance * distance;
}

}  // namespace qm
