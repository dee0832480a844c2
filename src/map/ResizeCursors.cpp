#include "map/ResizeCursors.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

#include "map/CircleHitTest.h"

namespace qm {

namespace {

// A double-headed arrow along x: tips at ±7.777, heads back to ±4.277 and
// ±3.5 high, a shaft 3 wide.
void addArrow(QPainterPath& path, bool vertical) {
    const QPointF pts[] = {{-7.777, 0}, {-4.277, -3.5}, {-4.277, -1.5}, {4.277, -1.5}, {4.277, -3.5},
                           {7.777, 0},  {4.277, 3.5},   {4.277, 1.5},   {-4.277, 1.5}, {-4.277, 3.5}};
    QPolygonF poly;
    for (QPointF p : pts) poly << (vertical ? QPointF(p.y(), p.x()) : p);
    poly << poly.first();
    path.addPolygon(poly);
}

}  // namespace

const QCursor& ResizeCursors::cursor(int bucket, qreal dpr) {
    if (dpr != ratio_) {
        ratio_ = dpr;
        cache_.clear();
    }
    auto it = cache_.find(bucket);
    if (it != cache_.end()) return *it;
    QImage image(QSize(int(24 * dpr), int(24 * dpr)), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(12, 12);
    // View angles are measured with y downward, as Qt rotates.
    p.rotate(bucket * 180.0 / CircleHitTest::cursorBuckets);
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    addArrow(path, false);
    if (bucket == CircleHitTest::fourDirectionBucket) addArrow(path, true);
    path = path.simplified();
    // A soft shadow, then the arrow filled black and outlined white.
    p.save();
    p.translate(0, 1.5);
    p.fillPath(path, QColor(0, 0, 0, 70));
    p.restore();
    p.fillPath(path, Qt::black);
    p.setPen(QPen(Qt::white, 1));
    p.drawPath(path);
    p.end();
    return *cache_.insert(bucket, QCursor(QPixmap::fromImage(image), 12, 12));
}

}  // namespace qm
