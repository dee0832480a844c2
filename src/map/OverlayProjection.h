#pragma once

#include "map/MapCamera.h"
#include "map/MapGeometry.h"

namespace qm {

struct ViewPointF {
    float x = 0;
    float y = 0;
};

// The overlay's conversions between view points and coordinates, from the
// longitudes of the view's left and right edges and the latitudes of its top
// and bottom. Longitudes are linear in x and Mercator values linear in y.
// Positions handed to drawing are 32-bit floats.
class OverlayProjection {
public:
    OverlayProjection(double lonLeft, double lonRight, double latTop, double latBottom, double width,
                      double height);
    // The projection of what the camera shows.
    static OverlayProjection of(const MapCamera& camera);

    double lonLeft() const { return lonLeft_; }
    double lonRight() const { return lonRight_; }
    double latTop() const { return latTop_; }
    double latBottom() const { return latBottom_; }
    double width() const { return width_; }
    double height() const { return height_; }
    double centerLongitude() const { return (lonLeft_ + lonRight_) / 2; }

    Coordinate coordinateAt(double x, double y) const;
    // The longitude is first brought within 180° of the view's centre.
    ViewPointF viewPointOf(double lon, double lat) const;
    // A radius given in degrees of longitude, in view points, and back.
    double pointsForLongitudeSpan(double degrees) const;
    double longitudeSpanForPoints(double points) const;

private:
    double lonLeft_, lonRight_, latTop_, latBottom_;
    double width_, height_;
    double mTop_, mBottom_;
};

}  // namespace qm
