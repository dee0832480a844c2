#include "map/MapCamera.h"

#include <algorithm>
#include <cmath>

namespace qm {

using namespace mercator;

MapCamera::MapCamera() : center_{worldSize / 2, worldSize / 2}, scale_(256 / worldSize) {}

void MapCamera::setViewSize(double width, double height) {
    viewWidth_ = std::max(1.0, width);
    viewHeight_ = std::max(1.0, height);
    applyLimits();
}

double MapCamera::minScale() const {
    return std::max(viewWidth_, viewHeight_) / worldSize;
}

void MapCamera::setCenterAndScale(MapPoint center, double scale) {
    center_ = center;
    scale_ = scale;
    applyLimits();
}

void MapCamera::applyLimits() {
    if (!std::isfinite(scale_) || scale_ <= 0) scale_ = minScale();
    scale_ = std::clamp(scale_, minScale(), maxScale);
    if (!std::isfinite(center_.x)) center_.x = worldSize / 2;
    if (!std::isfinite(center_.y)) center_.y = worldSize / 2;
    center_.x = wrapX(center_.x);
    double halfHeight = viewHeight_ / 2 / scale_;
    if (halfHeight * 2 >= worldSize)
        center_.y = worldSize / 2;
    else
        center_.y = std::clamp(center_.y, halfHeight, worldSize - halfHeight);
}

MapRect MapCamera::visibleMapRect() const {
    double w = viewWidth_ / scale_, h = viewHeight_ / scale_;
    return MapRect{center_.x - w / 2, center_.y - h / 2, w, h};
}

void MapCamera::setVisibleMapRect(const MapRect& rect) {
    if (!(rect.width > 0) || !(rect.height > 0)) return;
    double s = std::min(viewWidth_ / rect.width, viewHeight_ / rect.height);
    setCenterAndScale(MapPoint{rect.midX(), rect.midY()}, s);
}

MapRect MapCamera::mapRectForRegion(const CoordinateRegion& region) {
    double halfLat = std::abs(region.latitudeDelta) / 2;
    double top = std::min(maxLatitude, region.center.latitude + halfLat);
    double bottom = std::max(-maxLatitude, region.center.latitude - halfLat);
    MapPoint c = mapPoint(region.center);
    double w = std::abs(region.longitudeDelta) / 360 * worldSize;
    double yTop = mapPoint(Coordinate{0, top}).y, yBottom = mapPoint(Coordinate{0, bottom}).y;
    return MapRect{c.x - w / 2, yTop, w, yBottom - yTop};
}

CoordinateRegion MapCamera::region() const {
    MapRect r = visibleMapRect();
    Coordinate c = coordinate(center_);
    return CoordinateRegion{c, r.width / worldSize * 360, topLatitude() - bottomLatitude()};
}

void MapCamera::setRegion(const CoordinateRegion& region) {
    MapRect r = mapRectForRegion(region);
    if (!(r.width > 0) || !(r.height > 0)) {
        // A zero span keeps the zoom and only centres.
        setCenterAndScale(mapPoint(region.center), scale_);
        return;
    }
    double s = std::min(viewWidth_ / r.width, viewHeight_ / r.height);
    setCenterAndScale(mapPoint(region.center), s);
}

MapPoint MapCamera::mapPointAt(double viewX, double viewY) const {
    return MapPoint{center_.x + (viewX - viewWidth_ / 2) / scale_, center_.y + (viewY - viewHeight_ / 2) / scale_};
}

void MapCamera::viewPointOf(const MapPoint& p, double& viewX, double& viewY) const {
    double dx = p.x - center_.x;
    dx -= std::round(dx / worldSize) * worldSize;  // the copy nearest the centre
    viewX = viewWidth_ / 2 + dx * scale_;
    viewY = viewHeight_ / 2 + (p.y - center_.y) * scale_;
}

Coordinate MapCamera::coordinateAt(double viewX, double viewY) const {
    return coordinate(mapPointAt(viewX, viewY));
}

void MapCamera::viewPointOf(const Coordinate& c, double& viewX, double& viewY) const {
    viewPointOf(mapPoint(c), viewX, viewY);
}

double MapCamera::leftLongitude() const {
    return (center_.x - viewWidth_ / 2 / scale_) / worldSize * 360 - 180;
}

double MapCamera::rightLongitude() const {
    return (center_.x + viewWidth_ / 2 / scale_) / worldSize * 360 - 180;
}

double MapCamera::topLatitude() const {
    return coordinate(MapPoint{0, std::max(0.0, center_.y - viewHeight_ / 2 / scale_)}).latitude;
}

double MapCamera::bottomLatitude() const {
    return coordinate(MapPoint{0, std::min(worldSize, center_.y + viewHeight_ / 2 / scale_)}).latitude;
}

void MapCamera::panBy(double dx, double dy) {
    setCenterAndScale(MapPoint{center_.x - dx / scale_, center_.y - dy / scale_}, scale_);
}

void MapCamera::zoomBy(double factor, double viewX, double viewY) {
    if (!(factor > 0) || !std::isfinite(factor)) return;
    MapPoint anchor = mapPointAt(viewX, viewY);
    double s = std::clamp(scale_ / factor, minScale(), maxScale);
    // Keep the anchor under the same view point.
    MapPoint c{anchor.x - (viewX - viewWidth_ / 2) / s, anchor.y - (viewY - viewHeight_ / 2) / s};
    setCenterAndScale(c, s);
}

double MapCamera::zoomLevel() const {
    return std::log2(scale_ * worldSize / 256);
}

}  // namespace qm
