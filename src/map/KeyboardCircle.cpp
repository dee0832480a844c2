#include "map/KeyboardCircle.h"

#include <algorithm>
#include <cmath>

namespace qm {

namespace {

double clampedRadius(double r) {
    return std::clamp(r, KeyboardCircle::minRadius, KeyboardCircle::maxRadius);
}

// Longitudes stay in [-180, 180) after a move across the date line.
double wrappedLongitude(double lon) {
    double w = std::fmod(lon + 180, 360);
    if (w < 0) w += 360;
    return w - 180;
}

}  // namespace

MapCircle KeyboardCircle::placedAtCenter(const MapCamera& camera) {
    Coordinate c = camera.coordinateAt(camera.viewWidth() / 2, camera.viewHeight() / 2);
    double span = camera.viewWidth() / camera.scale() / mercator::worldSize * 360;
    return MapCircle{wrappedLongitude(c.longitude), c.latitude, clampedRadius(span * placedRadiusFraction)};
}

MapCircle KeyboardCircle::grown(const MapCircle& circle) {
    MapCircle c = circle;
    c.radiusLongitude = clampedRadius(circle.radiusLongitude * resizeFactor);
    return c;
}

MapCircle KeyboardCircle::shrunk(const MapCircle& circle) {
    MapCircle c = circle;
    c.radiusLongitude = clampedRadius(circle.radiusLongitude / resizeFactor);
    return c;
}

MapCircle KeyboardCircle::moved(const MapCircle& circle, const MapCamera& camera, int dx, int dy) {
    double x = 0, y = 0;
    camera.viewPointOf(Coordinate{circle.centerLongitude, circle.centerLatitude}, x, y);
    double step = std::min(camera.viewWidth(), camera.viewHeight()) * moveFraction;
    Coordinate to = camera.coordinateAt(x + dx * step, y + dy * step);
    MapCircle c = circle;
    c.centerLongitude = dx ? wrappedLongitude(to.longitude) : circle.centerLongitude;
    c.centerLatitude = dy ? to.latitude : circle.centerLatitude;
    return c;
}

}  // namespace qm
