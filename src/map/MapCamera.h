#pragma once

#include "map/MapGeometry.h"

namespace qm {

// What part of the Web Mercator world a view of a given size shows: the map
// point at the view's centre and the view points per map point. The view
// wraps horizontally (the world repeats east and west); vertically it stays
// on the world square whenever the view is shorter than it. View points have
// their origin at the top-left corner, y downward.
class MapCamera {
public:
    // Zoom steps of the buttons and keys change the scale by this factor.
    static constexpr double stepFactor = 2;
    // The closest zoom: about tile zoom 20.
    static constexpr double maxScale = 1.0;

    MapCamera();

    void setViewSize(double width, double height);
    double viewWidth() const { return viewWidth_; }
    double viewHeight() const { return viewHeight_; }

    MapPoint center() const { return center_; }
    double scale() const { return scale_; }
    // The farthest zoom: the world square fills the view's longer side.
    double minScale() const;
    // Sets the centre and scale as given, then applies the limits.
    void setCenterAndScale(MapPoint center, double scale);

    // The map rectangle the view shows.
    MapRect visibleMapRect() const;
    // Shows the whole rectangle, centred, as large as the view allows.
    void setVisibleMapRect(const MapRect& rect);
    // The rectangle of a region in degrees; longitude spans wrap.
    static MapRect mapRectForRegion(const CoordinateRegion& region);
    CoordinateRegion region() const;
    void setRegion(const CoordinateRegion& region);

    // Conversions. viewPoint keeps x continuous: the map point's copy nearest
    // the view's centre is used.
    MapPoint mapPointAt(double viewX, double viewY) const;
    void viewPointOf(const MapPoint& p, double& viewX, double& viewY) const;
    Coordinate coordinateAt(double viewX, double viewY) const;
    void viewPointOf(const Coordinate& c, double& viewX, double& viewY) const;

    // Longitudes of the view's left and right edges, continuous (right > left).
    double leftLongitude() const;
    double rightLongitude() const;
    // Latitudes of the view's top and bottom edges, clamped to the world.
    double topLatitude() const;
    double bottomLatitude() const;

    // Moves the map so that its content moves by (dx, dy) view points.
    void panBy(double dx, double dy);
    // Multiplies the visible rectangle's size by `factor` (< 1 zooms in),
    // keeping the map point under the view point (x, y) where it is.
    void zoomBy(double factor, double viewX, double viewY);
    void zoomBy(double factor) { zoomBy(factor, viewWidth_ / 2, viewHeight_ / 2); }

    // Fractional zoom level: 0 when the world is 256 points wide.
    double zoomLevel() const;

private:
    void applyLimits();

    double viewWidth_ = 256;
    double viewHeight_ = 256;
    MapPoint center_;
    double scale_;
};

}  // namespace qm
