// The map's Web Mercator maths: the camera's view <-> map conversions, regions
// and zoom, and the overlay's projection, against coordinates whose tiles are
// worked out by hand with the slippy-map formula (a different formulation of
// the same projection) and against round trips.
#include <gtest/gtest.h>

#include <cmath>

#include "map/MapCamera.h"
#include "map/OverlayProjection.h"

namespace qm {
namespace {

using namespace mercator;

// The slippy-map tile of a coordinate: n·(lon + 180)/360 and
// n·(1 − ln(tan φ + sec φ)/π)/2, floored.
void tileOf(double lon, double lat, int z, int& x, int& y) {
    double n = std::pow(2.0, z), phi = lat * pi / 180;
    x = int(std::floor(n * (lon + 180) / 360));
    y = int(std::floor(n * (1 - std::log(std::tan(phi) + 1 / std::cos(phi)) / pi) / 2));
}

void mapTile(double lon, double lat, int z, int& x, int& y) {
    MapPoint p = mapPoint(Coordinate{lon, lat});
    double tile = worldSize / std::pow(2.0, z);
    x = int(std::floor(p.x / tile));
    y = int(std::floor(p.y / tile));
}

TEST(MapProjection, KnownCoordinates) {
    // Equator and prime meridian: the middle of the world square.
    MapPoint o = mapPoint(Coordinate{0, 0});
    EXPECT_DOUBLE_EQ(o.x, worldSize / 2);
    EXPECT_NEAR(o.y, worldSize / 2, 1e-6);
    // ±85.0511…: the square's top and bottom; ±180: its left and right edges.
    EXPECT_NEAR(mapPoint(Coordinate{-180, maxLatitude}).y, 0, 1e-3);
    EXPECT_NEAR(mapPoint(Coordinate{180, -maxLatitude}).y, worldSize, 1e-3);
    EXPECT_DOUBLE_EQ(mapPoint(Coordinate{-180, 0}).x, 0);
    EXPECT_DOUBLE_EQ(mapPoint(Coordinate{180, 0}).x, worldSize);
    EXPECT_DOUBLE_EQ(wrapX(mapPoint(Coordinate{180, 0}).x), 0);
    // Beyond ±85.05 the value keeps growing; the poles stay finite.
    EXPECT_LT(mapPoint(Coordinate{0, 90}).y, 0);
    EXPECT_TRUE(std::isfinite(mapPoint(Coordinate{0, 90}).y));
    EXPECT_GT(mapPoint(Coordinate{0, -90}).y, worldSize);

    // Paris and Sydney land in the tiles worked out by hand at zoom 10.
    int x, y;
    mapTile(2.3522, 48.8566, 10, x, y);
    EXPECT_EQ(x, 518);
    EXPECT_EQ(y, 352);
    mapTile(151.2093, -33.8688, 10, x, y);
    EXPECT_EQ(x, 942);
    EXPECT_EQ(y, 614);
    // And agree with the slippy-map formula at deep zoom.
    for (Coordinate c : {Coordinate{2.3522, 48.8566}, Coordinate{151.2093, -33.8688}, Coordinate{-74.006, 40.7128},
                         Coordinate{-179.99, -84.9}, Coordinate{179.99, 84.9}}) {
        int ex, ey;
        tileOf(c.longitude, c.latitude, 18, ex, ey);
        mapTile(c.longitude, c.latitude, 18, x, y);
        EXPECT_EQ(x, ex) << c.longitude;
        EXPECT_EQ(y, ey) << c.latitude;
    }
}

TEST(MapProjection, RoundTrips) {
    for (double lat = -85; lat <= 85; lat += 8.5)
        for (double lon = -180; lon < 180; lon += 22.5) {
            Coordinate c = coordinate(mapPoint(Coordinate{lon, lat}));
            EXPECT_NEAR(c.longitude, lon, 1e-9);
            EXPECT_NEAR(c.latitude, lat, 1e-9);
        }
    MapCamera camera;
    camera.setViewSize(800, 600);
    camera.setRegion(CoordinateRegion{{2.3522, 48.8566}, 0.5, 0.5});
    for (double vx : {0.0, 123.5, 400.0, 799.0})
        for (double vy : {0.0, 300.0, 599.0}) {
            Coordinate c = camera.coordinateAt(vx, vy);
            double bx, by;
            camera.viewPointOf(c, bx, by);
            EXPECT_NEAR(bx, vx, 1e-6);
            EXPECT_NEAR(by, vy, 1e-6);
        }
    Coordinate mid = camera.coordinateAt(400, 300);
    EXPECT_NEAR(mid.longitude, 2.3522, 1e-9);
    EXPECT_NEAR(mid.latitude, 48.8566, 1e-9);
}

TEST(MapProjection, WrapAcrossTheAntimeridian) {
    MapCamera camera;
    camera.setViewSize(1000, 500);
    camera.setRegion(CoordinateRegion{{179, 0}, 10, 1});
    EXPECT_NEAR(camera.leftLongitude(), 174, 1e-6);
    EXPECT_NEAR(camera.rightLongitude(), 184, 1e-6);
    // −179° is the copy 2° east of the centre, not 358° west.
    double x, y;
    camera.viewPointOf(Coordinate{-179, 0}, x, y);
    EXPECT_NEAR(x, 700, 1e-6);
    EXPECT_NEAR(y, 250, 1e-6);
    // Panning west across the line keeps the centre inside the world square.
    camera.panBy(-500, 0);
    EXPECT_GE(camera.center().x, 0);
    EXPECT_LT(camera.center().x, worldSize);
    EXPECT_NEAR(camera.coordinateAt(500, 250).longitude, -176, 1e-6);

    // The overlay projection of that view: continuous edges, the wrap rule.
    OverlayProjection p = OverlayProjection::of(camera);
    EXPECT_NEAR(p.lonRight() - p.lonLeft(), 10, 1e-9);
    ViewPointF v = p.viewPointOf(179, 0);  // 5° west of the centre at −176
    EXPECT_NEAR(v.x, 0, 1e-3);
    // Corner longitudes as a map reports them (left > right) are unfolded.
    OverlayProjection q(175, -175, 10, -10, 1000, 1000);
    EXPECT_DOUBLE_EQ(q.lonLeft(), -185);
    EXPECT_NEAR(q.viewPointOf(180, 0).x, 500, 1e-3);
    EXPECT_NEAR(q.viewPointOf(-180, 0).x, 500, 1e-3);
    EXPECT_NEAR(q.coordinateAt(1000, 500).longitude, -175, 1e-9);
}

TEST(MapProjection, OverlayConversions) {
    // The whole Mercator square in a 512 × 512 view.
    OverlayProjection p(-180, 180, maxLatitude, -maxLatitude, 512, 512);
    ViewPointF c = p.viewPointOf(0, 0);
    EXPECT_NEAR(c.x, 256, 1e-3);
    EXPECT_NEAR(c.y, 256, 1e-3);
    EXPECT_NEAR(p.viewPointOf(0, maxLatitude).y, 0, 1e-3);
    EXPECT_NEAR(p.coordinateAt(512, 512).latitude, -maxLatitude, 1e-9);
    // Paris: x from the longitude, y from the slippy-map formula.
    ViewPointF paris = p.viewPointOf(2.3522, 48.8566);
    double phi = 48.8566 * pi / 180;
    EXPECT_NEAR(paris.x, 512 * (182.3522 / 360), 1e-3);
    EXPECT_NEAR(paris.y, 512 * (1 - std::log(std::tan(phi) + 1 / std::cos(phi)) / pi) / 2, 1e-3);
    // Radii: 360° of longitude is the view's width.
    EXPECT_DOUBLE_EQ(p.pointsForLongitudeSpan(360), 512);
    EXPECT_DOUBLE_EQ(p.longitudeSpanForPoints(p.pointsForLongitudeSpan(1.25)), 1.25);
    // Latitudes beyond ±89.99999 are clamped, so the poles stay finite.
    OverlayProjection polar(-10, 10, 90, -90, 100, 100);
    EXPECT_TRUE(std::isfinite(polar.viewPointOf(0, 90).y));
}

TEST(MapCamera, RegionsRectsAndZoom) {
    MapCamera camera;
    camera.setViewSize(800, 400);
    // The farthest zoom fills the longer side with the world; the view stays on it.
    camera.setCenterAndScale(MapPoint{0, 0}, 1e-12);
    EXPECT_DOUBLE_EQ(camera.scale(), 800 / worldSize);
    EXPECT_DOUBLE_EQ(camera.visibleMapRect().width, worldSize);
    EXPECT_GE(camera.visibleMapRect().y, 0);
    camera.setCenterAndScale(MapPoint{0, 0}, 10);
    EXPECT_DOUBLE_EQ(camera.scale(), MapCamera::maxScale);

    // A rectangle is shown whole, centred.
    MapRect r{1000000, 2000000, 400000, 100000};
    camera.setVisibleMapRect(r);
    MapRect v = camera.visibleMapRect();
    EXPECT_DOUBLE_EQ(v.midX(), r.midX());
    EXPECT_DOUBLE_EQ(v.midY(), r.midY());
    EXPECT_DOUBLE_EQ(v.width, 400000);
    EXPECT_DOUBLE_EQ(v.height, 200000);
    // The visible rectangle set back gives the same view.
    MapCamera other;
    other.setViewSize(800, 400);
    other.setVisibleMapRect(v);
    EXPECT_EQ(other.visibleMapRect(), v);

    // A region of 0.01 × 0.01 degrees around Sydney: both spans visible.
    camera.setRegion(CoordinateRegion{{151.2093, -33.8688}, 0.01, 0.01});
    CoordinateRegion g = camera.region();
    EXPECT_NEAR(g.center.longitude, 151.2093, 1e-9);
    EXPECT_NEAR(g.center.latitude, -33.8688, 1e-9);
    EXPECT_GE(g.longitudeDelta, 0.01 - 1e-9);
    EXPECT_NEAR(g.latitudeDelta, 0.01, 1e-6);

    // Zoom steps halve and double the span; zooming about a point keeps it fixed.
    double span = camera.visibleMapRect().width;
    camera.zoomBy(2);
    EXPECT_DOUBLE_EQ(camera.visibleMapRect().width, span * 2);
    Coordinate under = camera.coordinateAt(100, 50);
    camera.zoomBy(0.5, 100, 50);
    EXPECT_DOUBLE_EQ(camera.visibleMapRect().width, span);
    Coordinate after = camera.coordinateAt(100, 50);
    EXPECT_NEAR(after.longitude, under.longitude, 1e-9);
    EXPECT_NEAR(after.latitude, under.latitude, 1e-9);
    // Zoom levels: 0 for a 256-point world.
    camera.setCenterAndScale(MapPoint{worldSize / 2, worldSize / 2}, 1024 / worldSize);
    EXPECT_DOUBLE_EQ(camera.zoomLevel(), 2);

    // Panning moves the content with the pointer.
    camera.setRegion(CoordinateRegion{{10, 10}, 1, 1});
    Coordinate before = camera.coordinateAt(400, 200);
    camera.panBy(50, 20);
    Coordinate moved = camera.coordinateAt(450, 220);
    EXPECT_NEAR(moved.longitude, before.longitude, 1e-9);
    EXPECT_NEAR(moved.latitude, before.latitude, 1e-9);
    // Bad input is ignored.
    MapRect keep = camera.visibleMapRect();
    camera.setVisibleMapRect(MapRect{0, 0, 0, 0});
    camera.zoomBy(std::nan(""));
    EXPECT_EQ(camera.visibleMapRect(), keep);
}

}  // namespace
}  // namespace qm
