#include "map/CircleHitTest.h"

#include <cmath>

namespace qm {

double CircleHitTest::edgeDistance(const MapCircle& circle, const OverlayProjection& projection, double x,
                                   double y) {
    ViewPointF c = projection.viewPointOf(circle.centerLongitude, circle.centerLatitude);
    float r = static_cast<float>(projection.pointsForLongitudeSpan(circle.radiusLongitude));
    return std::hypot(x - double(c.x), y - double(c.y)) - double(r);
}

CircleZone CircleHitTest::zoneForEdgeDistance(double d) {
    if (d < -edgeWidth) return CircleZone::inside;
    if (d < edgeWidth) return CircleZone::edge;
    return CircleZone::outside;
}

CircleZone CircleHitTest::zone(const std::optional<MapCircle>& circle, const OverlayProjection& projection,
                               double x, double y) {
    if (!circle) return CircleZone::outside;
    return zoneForEdgeDistance(edgeDistance(*circle, projection, x, y));
}

int CircleHitTest::bucketForAngle(double angle) {
    double turns = angle / 3.14159265358979323846;
    double frac = turns - std::floor(turns);
    return static_cast<int>(std::lround(frac * cursorBuckets)) % cursorBuckets;
}

bool CircleHitTest::passesThreshold(double pressX, double pressY, double x, double y) {
    double dx = x - pressX, dy = y - pressY;
    return dx * dx + dy * dy >= dragThreshold * dragThreshold;
}

}  // namespace qm
