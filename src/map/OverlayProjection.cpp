#include "map/OverlayProjection.h"

#include <algorithm>
#include <cmath>

namespace qm {

using namespace mercator;

OverlayProjection::OverlayProjection(double lonLeft, double lonRight, double latTop, double latBottom,
                                     double width, double height)
    : lonLeft_(lonLeft > lonRight ? lonLeft - 360 : lonLeft),
      lonRight_(lonRight),
      latTop_(std::clamp(latTop, -89.99999, 89.99999)),
      latBottom_(std::clamp(latBottom, -89.99999, 89.99999)),
      width_(std::max(1.0, width)),
      height_(std::max(1.0, height)),
      mTop_(mercatorValue(latTop_)),
      mBottom_(mercatorValue(latBottom_)) {}

OverlayProjection OverlayProjection::of(const MapCamera& camera) {
    // The camera's edges are continuous, so a view as wide as the whole world
    // keeps its full span instead of folding to zero.
    double left = camera.leftLongitude();
    double shift = std::floor((left + 180) / 360) * 360;
    return OverlayProjection(left - shift, camera.rightLongitude() - shift, camera.topLatitude(),
                             camera.bottomLatitude(), camera.viewWidth(), camera.viewHeight());
}

Coordinate OverlayProjection::coordinateAt(double x, double y) const {
    double lon = lonLeft_ + x * (lonRight_ - lonLeft_) / width_;
    double lat = latitudeForMercator(mTop_ + y * (mBottom_ - mTop_) / height_);
    return Coordinate{lon, lat};
}

ViewPointF OverlayProjection::viewPointOf(double lon, double lat) const {
    lon = nearestLongitude(lon, centerLongitude());
    double x = (lon - lonLeft_) * width_ / (lonRight_ - lonLeft_);
    double y = (mercatorValue(lat) - mTop_) * height_ / (mBottom_ - mTop_);
    return ViewPointF{static_cast<float>(x), static_cast<float>(y)};
}

double OverlayProjection::pointsForLongitudeSpan(double degrees) const {
    return degrees * width_ / (lonRight_ - lonLeft_);
}

double OverlayProjection::longitudeSpanForPoints(double points) const {
    return points * (lonRight_ - lonLeft_) / width_;
}

}  // namespace qm
