// The overlay on the real pane, driven by synthetic pointer, wheel and key
// events: hit zones and the drag threshold, placing with Ctrl, the cursors,
// moving and resizing, panning and zooming; the pane without a GPU renderer
// (the offscreen platform has no GL, and a process may turn it off).
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QtTest/QTest>

#include <cmath>

#include "MapHarness.h"
#include "map/CircleHitTest.h"
#include "map/MapButton.h"
#include "map/MapCanvas.h"
#include "map/OverlayRenderer.h"
#include "map/OverlayView.h"
#include "map/TooltipTiming.h"
#include "map/WorldBaseLayer.h"

namespace qm::test {
namespace {

using Cursor = OverlayView::CursorKind;
using Drag = OverlayView::DragKind;

void send(QWidget* w, QEvent::Type type, QPointF p, Qt::MouseButtons buttons = Qt::LeftButton,
          Qt::KeyboardModifiers mods = Qt::NoModifier) {
    Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, p, w->mapToGlobal(p), button, type == QEvent::MouseButtonRelease ? Qt::NoButton : buttons,
                  mods);
    QApplication::sendEvent(w, &e);
}
void press(QWidget* w, QPointF p, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    send(w, QEvent::MouseButtonPress, p, Qt::LeftButton, mods);
}
void drag(QWidget* w, QPointF p) {
    send(w, QEvent::MouseMove, p, Qt::LeftButton);
}
void hover(QWidget* w, QPointF p, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    send(w, QEvent::MouseMove, p, Qt::NoButton, mods);
}
void release(QWidget* w, QPointF p) {
    send(w, QEvent::MouseButtonRelease, p, Qt::NoButton);
}

struct OverlayFixture : ::testing::Test {
    MapHarness h{{{"/a", 10, 20}, {"/b", 10.5, 20.2}, {"/c", -40, -10}}};
    MapView* view = nullptr;
    OverlayView* overlay = nullptr;
    const QPointF centre{400, 300};

    void SetUp() override {
        view = &h.makeView(800, 600);
        h.showMapNode();
        overlay = view->overlay();
        view->canvas()->setRegion(CoordinateRegion{{10, 20}, 8, 1});
    }
    // A circle of 100 points around the view's centre.
    MapCircle centredCircle() {
        OverlayProjection p = overlay->projection();
        Coordinate c = p.coordinateAt(centre.x(), centre.y());
        return MapCircle{c.longitude, c.latitude, p.longitudeSpanForPoints(100)};
    }
};

TEST_F(OverlayFixture, HitZonesAndTheDragThreshold) {
    // The plain rule.
    EXPECT_EQ(CircleHitTest::zoneForEdgeDistance(-5.1), CircleZone::inside);
    EXPECT_EQ(CircleHitTest::zoneForEdgeDistance(-4.9), CircleZone::edge);
    EXPECT_EQ(CircleHitTest::zoneForEdgeDistance(4.99), CircleZone::edge);
    EXPECT_EQ(CircleHitTest::zoneForEdgeDistance(5), CircleZone::outside);
    EXPECT_FALSE(CircleHitTest::passesThreshold(0, 0, 2.9, 0));
    EXPECT_FALSE(CircleHitTest::passesThreshold(0, 0, 2, 2));
    EXPECT_TRUE(CircleHitTest::passesThreshold(0, 0, 3, 0));

    const MapCircle circle = centredCircle();
    view->setPlacedCircle(circle);
    struct Case {
        double distance;  // from the centre
        Drag kind;
    };
    for (Case c : {Case{95.1, Drag::circleResize}, Case{94.9, Drag::circleMove}, Case{105, Drag::cameraPan},
                   Case{0, Drag::circleMove}}) {
        QPointF at = centre + QPointF(c.distance, 0);
        press(overlay, at);
        ASSERT_TRUE(overlay->draggingState().has_value()) << c.distance;
        EXPECT_EQ(overlay->draggingState()->kind, c.kind) << c.distance;
        // Under 3 points nothing moves: neither the map nor the circle.
        MapRect before = view->canvas()->visibleMapRect();
        drag(overlay, at + QPointF(2, 2));
        drag(overlay, at + QPointF(-2.9, 0));
        EXPECT_EQ(view->canvas()->visibleMapRect(), before);
        EXPECT_EQ(*view->placedCircle(), circle);
        release(overlay, at);
        EXPECT_FALSE(overlay->draggingState().has_value());
    }

    // Beyond the threshold: a pan moves the map with the pointer, not the circle.
    Coordinate under = overlay->projection().coordinateAt(700, 300);
    press(overlay, {700, 300});
    drag(overlay, {690, 320});
    drag(overlay, {650, 350});
    Coordinate now = overlay->projection().coordinateAt(650, 350);
    EXPECT_NEAR(now.longitude, under.longitude, 1e-9);
    EXPECT_NEAR(now.latitude, under.latitude, 1e-9);
    EXPECT_EQ(overlay->cursorKind(), Cursor::closedHand);
    release(overlay, {650, 350});
    EXPECT_EQ(*view->placedCircle(), circle);
}

TEST_F(OverlayFixture, MovingAndResizingTheCircle) {
    view->setPlacedCircle(centredCircle());
    // Resize from the edge: the new radius is the pointer's distance.
    press(overlay, centre + QPointF(0, -98));
    drag(overlay, centre + QPointF(0, -150));
    OverlayProjection p = overlay->projection();
    EXPECT_NEAR(p.pointsForLongitudeSpan(view->placedCircle()->radiusLongitude), 150, 1e-3);
    EXPECT_EQ(overlay->cursorKind(), Cursor::resize);
    EXPECT_EQ(overlay->cursorBucket(), CircleHitTest::bucketForAngle(M_PI / 2));
    release(overlay, centre + QPointF(0, -150));
    ASSERT_TRUE(h.settle());

    // Move from inside, keeping the offset to the centre.
    press(overlay, centre + QPointF(20, 10));
    drag(overlay, centre + QPointF(120, 60));
    ViewPointF c = p.viewPointOf(view->placedCircle()->centerLongitude, view->placedCircle()->centerLatitude);
    EXPECT_NEAR(c.x, 500, 1e-3);
    EXPECT_NEAR(c.y, 350, 1e-3);
    EXPECT_NEAR(p.pointsForLongitudeSpan(view->placedCircle()->radiusLongitude), 150, 1e-3);
    EXPECT_EQ(overlay->cursorKind(), Cursor::move);
    release(overlay, centre + QPointF(120, 60));
    ASSERT_TRUE(h.settle());
    // The results follow the circle.
    ASSERT_TRUE(h.window->mapResults().has_value());

    // Resize cursors by angle: 32 buckets over half a turn.
    EXPECT_EQ(CircleHitTest::bucketForAngle(0), 0);
    EXPECT_EQ(CircleHitTest::bucketForAngle(M_PI), 0);
    EXPECT_EQ(CircleHitTest::bucketForAngle(M_PI / 2), 16);
    EXPECT_EQ(CircleHitTest::bucketForAngle(-M_PI / 2), 16);
    EXPECT_EQ(CircleHitTest::bucketForAngle(M_PI * 0.99), 0);
    EXPECT_EQ(CircleHitTest::bucketForAngle(M_PI / 32), 1);
}

TEST_F(OverlayFixture, PlacingWithCtrlAndTheCursors) {
    hover(overlay, {100, 100});
    EXPECT_EQ(overlay->cursorKind(), Cursor::openHand);
    // Holding Ctrl makes the place tool effective: crosshair.
    QTest::keyPress(view, Qt::Key_Control, Qt::ControlModifier);
    EXPECT_TRUE(view->isOptionKeyPressed());
    EXPECT_EQ(view->effectiveTool(), Tool::placeCircle);
    EXPECT_EQ(overlay->cursorKind(), Cursor::crosshair);
    EXPECT_TRUE(view->placeButton()->isChecked());

    // A Ctrl-click places a circle of 100 points at the pointer, as a user action.
    h.window->setCurrentSelection({QuickString::bytes("/c")});
    press(overlay, centre, Qt::ControlModifier);
    ASSERT_TRUE(view->placedCircle().has_value());
    OverlayProjection p = overlay->projection();
    ViewPointF c = p.viewPointOf(view->placedCircle()->centerLongitude, view->placedCircle()->centerLatitude);
    EXPECT_NEAR(c.x, 400, 1e-3);
    EXPECT_NEAR(c.y, 300, 1e-3);
    EXPECT_NEAR(p.pointsForLongitudeSpan(view->placedCircle()->radiusLongitude), 100, 1e-6);
    EXPECT_FALSE(overlay->draggingState().has_value());
    release(overlay, centre);
    ASSERT_TRUE(h.settle());
    EXPECT_TRUE(h.window->mapResults().has_value());
    EXPECT_TRUE(h.window->currentSelection().empty());  // /c is far away

    // Ctrl still held over the circle: move and resize cursors, not the crosshair.
    EXPECT_TRUE(view->shouldIgnoreOptionKey());
    EXPECT_EQ(view->effectiveTool(), Tool::panCamera);
    hover(overlay, centre + QPointF(10, 0), Qt::ControlModifier);
    EXPECT_EQ(overlay->cursorKind(), Cursor::move);
    hover(overlay, centre + QPointF(101, 0), Qt::ControlModifier);
    EXPECT_EQ(overlay->cursorKind(), Cursor::resize);
    // Five points outside: Ctrl counts again.
    hover(overlay, centre + QPointF(105, 0), Qt::ControlModifier);
    EXPECT_FALSE(view->shouldIgnoreOptionKey());
    EXPECT_EQ(overlay->cursorKind(), Cursor::crosshair);
    QTest::keyRelease(view, Qt::Key_Control);
    EXPECT_FALSE(view->isOptionKeyPressed());
    EXPECT_EQ(overlay->cursorKind(), Cursor::openHand);

    // The side button: one click places one circle, then the tool is pan again.
    QTest::mouseClick(view->placeButton(), Qt::LeftButton);
    EXPECT_EQ(view->toolFromSideButton(), Tool::placeCircle);
    EXPECT_TRUE(view->placeButton()->isChecked());
    EXPECT_FALSE(view->panButton()->isChecked());
    press(overlay, {200, 200});
    release(overlay, {200, 200});
    EXPECT_EQ(view->toolFromSideButton(), Tool::panCamera);
    EXPECT_TRUE(view->panButton()->isChecked());
    ViewPointF placed = p.viewPointOf(view->placedCircle()->centerLongitude, view->placedCircle()->centerLatitude);
    EXPECT_NEAR(placed.x, 200, 1e-3);
    // Leaving the overlay: arrow.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(overlay, &leave);
    EXPECT_FALSE(overlay->mouseInView().has_value());
    EXPECT_EQ(overlay->cursorKind(), Cursor::arrow);
}

TEST_F(OverlayFixture, ZoomStepsWheelAndTouchpad) {
    MapCanvas* canvas = view->canvas();
    const double span = canvas->visibleMapRect().width;
    QTest::mousePress(view->zoomInButton(), Qt::LeftButton);  // acts on mouse down
    EXPECT_DOUBLE_EQ(canvas->visibleMapRect().width, span / 2);
    QTest::mouseRelease(view->zoomInButton(), Qt::LeftButton);
    QTest::mouseClick(view->zoomOutButton(), Qt::LeftButton);
    EXPECT_DOUBLE_EQ(canvas->visibleMapRect().width, span);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Plus);
    EXPECT_DOUBLE_EQ(canvas->visibleMapRect().width, span / 2);
    QTest::keyClick(view, Qt::Key_Minus);
    EXPECT_DOUBLE_EQ(canvas->visibleMapRect().width, span);

    // A mouse wheel notch zooms in by √2 about the pointer.
    const QPointF at(150, 420);
    Coordinate under = overlay->projection().coordinateAt(at.x(), at.y());
    QWheelEvent wheel(at, overlay->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(overlay, &wheel);
    EXPECT_NEAR(canvas->visibleMapRect().width, span / std::sqrt(2.0), 1e-6 * span);
    Coordinate after = overlay->projection().coordinateAt(at.x(), at.y());
    EXPECT_NEAR(after.longitude, under.longitude, 1e-9);
    EXPECT_NEAR(after.latitude, under.latitude, 1e-9);

    // A touchpad scroll pans by its pixels; with Ctrl it zooms.
    const double width = canvas->visibleMapRect().width;
    Coordinate mid = overlay->projection().coordinateAt(400, 300);
    QWheelEvent scroll(at, overlay->mapToGlobal(at), QPoint(30, -40), QPoint(0, 0), Qt::NoButton, Qt::NoModifier,
                       Qt::ScrollUpdate, false);
    QApplication::sendEvent(overlay, &scroll);
    Coordinate moved = overlay->projection().coordinateAt(430, 260);
    EXPECT_NEAR(moved.longitude, mid.longitude, 1e-9);
    EXPECT_NEAR(moved.latitude, mid.latitude, 1e-9);
    QWheelEvent pinch(at, overlay->mapToGlobal(at), QPoint(0, 100), QPoint(0, 0), Qt::NoButton, Qt::ControlModifier,
                      Qt::ScrollBegin, false);
    QApplication::sendEvent(overlay, &pinch);
    EXPECT_NEAR(canvas->visibleMapRect().width, width * std::pow(0.995, 100), 1e-6 * width);

    // The scroll state is the visible rectangle and comes back.
    std::any state = view->scrollState();
    MapRect saved = canvas->visibleMapRect();
    canvas->zoomOut();
    view->setScrollState(std::any(42));  // a foreign value is ignored
    EXPECT_NE(canvas->visibleMapRect(), saved);
    view->setScrollState(state);
    EXPECT_NEAR(canvas->visibleMapRect().x, saved.x, 1e-6);
    EXPECT_NEAR(canvas->visibleMapRect().width, saved.width, 1e-6);
}

TEST_F(OverlayFixture, SideButtonTooltips) {
    EXPECT_EQ(TooltipTiming::delayFor(TooltipTiming::Clock::now(), TooltipTiming::Clock::time_point{}),
              std::chrono::milliseconds(800));
    auto t = TooltipTiming::Clock::now();
    EXPECT_EQ(TooltipTiming::delayFor(t, t - std::chrono::milliseconds(499)), std::chrono::milliseconds(0));
    EXPECT_EQ(TooltipTiming::delayFor(t, t - std::chrono::milliseconds(500)), std::chrono::milliseconds(800));

    MapButton* pan = view->panButton();
    MapButton* place = view->placeButton();
    EXPECT_EQ(pan->accessibleName(), "Drag Map");
    EXPECT_EQ(place->accessibleName(), "Draw Circle (Ctrl+Click)");
    EXPECT_EQ(view->zoomInButton()->text(), "+");
    EXPECT_EQ(view->zoomOutButton()->text(), QString::fromUtf8("\u2212"));
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(pan, &enter);
    EXPECT_FALSE(pan->isTooltipVisible());  // not yet
    QTRY_VERIFY_WITH_TIMEOUT(pan->isTooltipVisible(), 10000);
    // Straight on to the next button: its tooltip shows at once.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(pan, &leave);
    EXPECT_FALSE(pan->isTooltipVisible());
    QApplication::sendEvent(place, &enter);
    EXPECT_TRUE(place->isTooltipVisible());
    // Beside the button, to its right.
    EXPECT_GE(place->tooltip()->x(), MapView::sideMargin + MapView::buttonSize);
    QTest::mousePress(place, Qt::LeftButton);
    EXPECT_FALSE(place->isTooltipVisible());
    QTest::mouseRelease(place, Qt::LeftButton);
}

TEST(MapViewWithoutGpu, TheOverlayStaysEmptyAndEverythingElseWorks) {
    OverlayRenderer::setGpuAllowed(false);
    MapHarness h({{"/a", 10, 20}});
    MapView& view = h.makeView(1024, 1024);
    h.showMapNode();
    EXPECT_FALSE(view.overlay()->hasRenderer());
    // The whole world: the base layer is drawn by the map itself.
    view.canvas()->setRegion(CoordinateRegion{{0, 0}, 360, 170});
    QImage shot = view.grab().toImage();
    ASSERT_FALSE(shot.isNull());
    auto colors = WorldBaseLayer::colorsFor(false);
    auto pixelAt = [&](double lon, double lat) {
        double x, y;
        view.canvas()->camera().viewPointOf(Coordinate{lon, lat}, x, y);
        return QColor(shot.pixel(QPoint(int(x * shot.devicePixelRatio()), int(y * shot.devicePixelRatio()))));
    };
    EXPECT_EQ(pixelAt(-140, 0), colors.sea);      // the Pacific
    EXPECT_EQ(pixelAt(-30, -30), colors.sea);     // the South Atlantic
    EXPECT_EQ(pixelAt(20, 15), colors.land);      // Chad
    EXPECT_EQ(pixelAt(-100, 40), colors.land);    // Kansas
    EXPECT_EQ(pixelAt(135, -25), colors.land);    // central Australia
    // Circle editing and results still work.
    h.window->setCurrentSelection({});
    QPointF at(512, 512);
    Coordinate c = view.overlay()->projection().coordinateAt(at.x(), at.y());
    view.setPlacedCircle(MapCircle{10, 20, 1});
    ASSERT_TRUE(h.settle());
    ASSERT_TRUE(h.window->mapResults().has_value());
    EXPECT_EQ(h.window->mapResults()->size(), 1u);
    press(view.overlay(), at);
    drag(view.overlay(), at + QPointF(40, 0));
    release(view.overlay(), at + QPointF(40, 0));
    EXPECT_NE(view.overlay()->projection().coordinateAt(at.x(), at.y()).longitude, c.longitude);
    // The frame the renderer would draw is still built: one dot and the circle.
    OverlayFrame frame;
    view.overlay()->buildFrame(frame);
    EXPECT_EQ(frame.dotsEnd, 6u);
    EXPECT_EQ(frame.circleEnd, 12u);
    OverlayRenderer::setGpuAllowed(true);
}

}  // namespace
}  // namespace qm::test
