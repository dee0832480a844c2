// Circle search from the keyboard alone, and what the map pane tells
// assistive technology: the keyboard circle's maths against the camera, then
// the real pane driven by key presses over a small located library.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QLabel>
#include <QTest>

#include <cmath>

#include "MapHarness.h"
#include "desktop/AccessibleEvents.h"
#include "map/KeyboardCircle.h"
#include "map/MapButton.h"
#include "map/MapCanvas.h"
#include "map/ResultsView.h"

using namespace qm;
using namespace qm::test;

TEST(KeyboardCircle, PlacesAtTheCentreAndGrowsShrinksAndMovesByScreenSteps) {
    MapCamera camera;
    camera.setViewSize(800, 600);
    camera.setRegion(CoordinateRegion{{10, 50}, 40, 20});
    MapCircle c = KeyboardCircle::placedAtCenter(camera);
    Coordinate centre = camera.coordinateAt(400, 300);
    EXPECT_NEAR(c.centerLongitude, centre.longitude, 1e-9);
    EXPECT_NEAR(c.centerLatitude, centre.latitude, 1e-9);
    // An eighth of the longitude the view spans.
    EXPECT_NEAR(c.radiusLongitude,
                (camera.coordinateAt(800, 300).longitude - camera.coordinateAt(0, 300).longitude) / 8, 1e-6);

    MapCircle g = KeyboardCircle::grown(c);
    EXPECT_NEAR(g.radiusLongitude, c.radiusLongitude * 1.25, 1e-12);
    EXPECT_NEAR(KeyboardCircle::shrunk(g).radiusLongitude, c.radiusLongitude, 1e-12);
    EXPECT_EQ(g.centerLongitude, c.centerLongitude);
    MapCircle tiny = c;
    for (int i = 0; i < 200; ++i) tiny = KeyboardCircle::shrunk(tiny);
    EXPECT_EQ(tiny.radiusLongitude, KeyboardCircle::minRadius);
    MapCircle huge = c;
    for (int i = 0; i < 200; ++i) huge = KeyboardCircle::grown(huge);
    EXPECT_EQ(huge.radiusLongitude, KeyboardCircle::maxRadius);

    // One step is a twentieth of the shorter side (30 points here), on the screen.
    double x0, y0, x1, y1;
    camera.viewPointOf(Coordinate{c.centerLongitude, c.centerLatitude}, x0, y0);
    MapCircle right = KeyboardCircle::moved(c, camera, 1, 0);
    camera.viewPointOf(Coordinate{right.centerLongitude, right.centerLatitude}, x1, y1);
    EXPECT_NEAR(x1 - x0, 30, 1e-6);
    EXPECT_NEAR(y1 - y0, 0, 1e-6);
    MapCircle down = KeyboardCircle::moved(c, camera, 0, 1);
    EXPECT_LT(down.centerLatitude, c.centerLatitude);
    EXPECT_EQ(down.centerLongitude, c.centerLongitude);
    EXPECT_EQ(down.radiusLongitude, c.radiusLongitude);
    // Across the date line the longitude comes back into range.
    MapCircle east{179.99, 0, 1};
    MapCircle over = KeyboardCircle::moved(east, camera, 1, 0);
    EXPECT_GE(over.centerLongitude, -180);
    EXPECT_LT(over.centerLongitude, -175);  // one step, about 1.5° here, past the line
}

TEST(MapView, KeyboardCircleSearchAndAnnouncedResults) {
    MapHarness h({{"/home/u/a.jpg", 10, 50}, {"/home/u/b.jpg", 10.5, 50.2}, {"/home/u/far.jpg", 60, -20}});
    MapView& view = h.makeView(800, 600);
    h.showMapNode();
    view.canvas()->setRegion(CoordinateRegion{{10, 50}, 20, 10}, false);
    QApplication::setActiveWindow(&view);
    view.setFocus();
    // With the keyboard focus the map shows a ring of its own.
    EXPECT_TRUE(view.hasFocus());
    EXPECT_TRUE(view.focusRing()->isVisible());

    // The side buttons are named by their tooltips.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(view.panButton())->text(QAccessible::Name), "Drag Map");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(view.placeButton())->text(QAccessible::Name),
              "Draw Circle (Ctrl+Click)");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(view.zoomInButton())->text(QAccessible::Name), "Zoom In");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(view.zoomOutButton())->text(QAccessible::Name), "Zoom Out");
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(&view)->text(QAccessible::Description).isEmpty());

    std::vector<QString> announced;
    AccessibleEvents::setObserver([&](QAccessibleEvent* e) {
        if (e->type() == QAccessible::NameChanged && e->object() == view.resultsView()->label())
            announced.push_back(e->accessibleInterface()->text(QAccessible::Name));
    });

    // C places a circle at the centre; its results are read out.
    QTest::keyClick(&view, Qt::Key_C);
    ASSERT_TRUE(view.placedCircle());
    EXPECT_NEAR(view.placedCircle()->centerLongitude, 10, 1e-6);
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(view.resultsView()->text(), "2 results");
    ASSERT_FALSE(announced.empty());
    EXPECT_EQ(announced.back(), "2 results");

    // + and - still zoom; the circle stays as it was.
    const MapCircle placed = *view.placedCircle();
    const double scale = view.canvas()->camera().scale();
    QTest::keyClick(&view, Qt::Key_Plus);
    EXPECT_GT(view.canvas()->camera().scale(), scale);
    QTest::keyClick(&view, Qt::Key_Minus);
    EXPECT_EQ(*view.placedCircle(), placed);

    // ] and [ grow and shrink it; Shift+arrows move it off the files.
    QTest::keyClick(&view, Qt::Key_BracketRight);
    EXPECT_NEAR(view.placedCircle()->radiusLongitude, placed.radiusLongitude * 1.25, 1e-9);
    for (int i = 0; i < 12; ++i) QTest::keyClick(&view, Qt::Key_BracketLeft);
    EXPECT_LT(view.placedCircle()->radiusLongitude, placed.radiusLongitude / 8);
    QTest::keyClick(&view, Qt::Key_Right);  // plain arrows leave the circle alone
    EXPECT_NEAR(view.placedCircle()->centerLongitude, 10, 1e-6);
    for (int i = 0; i < 5; ++i) QTest::keyClick(&view, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_GT(view.placedCircle()->centerLatitude, 50.5);
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(view.resultsView()->text(), "0 results");
    EXPECT_EQ(announced.back(), "0 results");

    // Delete removes it, and the panel goes.
    QTest::keyClick(&view, Qt::Key_Delete);
    EXPECT_FALSE(view.placedCircle());
    ASSERT_TRUE(h.settle());
    EXPECT_FALSE(view.resultsView()->isVisible());
    AccessibleEvents::setObserver(nullptr);
    view.clearFocus();
    EXPECT_FALSE(view.focusRing()->isVisible());
}
