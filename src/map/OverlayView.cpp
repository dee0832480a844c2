#include "map/OverlayView.h"

#include <QApplication>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QWheelEvent>

#include <cmath>

#include "geo/MultiGrid.h"
#include "map/CircleHitTest.h"
#include "map/MapCanvas.h"
#include "map/MapView.h"
#include "map/OverlayRenderer.h"

namespace qm {

OverlayView::OverlayView(MapView* pane) : QWidget(pane), pane_(pane) {
    setMouseTracking(true);
    setAttribute(Qt::WA_NoSystemBackground);
    if (OverlayRenderer::isGpuAvailable()) {
        renderer_ = new OverlayRenderer(this, pane_->canvas());
        pane_->canvas()->setPaintsFrame(false);
    }
}

OverlayView::~OverlayView() = default;

OverlayProjection OverlayView::projection() const {
    return OverlayProjection::of(pane_->canvas()->camera());
}

void OverlayView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (renderer_) renderer_->setGeometry(rect());
}

void OverlayView::redraw() {
    if (renderer_) renderer_->update();
}

void OverlayView::buildFrame(OverlayFrame& frame) const {
    std::shared_ptr<const MultiGrid> grid = pane_->latestGrid();
    std::optional<ViewPointF> preview;
    if (pane_->effectiveTool() == Tool::placeCircle && !draggingState_ && mouseInView_)
        preview = ViewPointF{float(mouseInView_->x()), float(mouseInView_->y())};
    OverlayGeometry::build(frame, grid.get(), projection(), float(devicePixelRatioF()), pane_->placedCircle(),
                           preview);
}

void OverlayView::setCursorKind(CursorKind kind, int bucket) {
    if (kind == cursorKind_ && bucket == cursorBucket_) return;
    cursorKind_ = kind;
    cursorBucket_ = bucket;
    switch (kind) {
    case CursorKind::arrow: setCursor(Qt::ArrowCursor); break;
    case CursorKind::crosshair: setCursor(Qt::CrossCursor); break;
    case CursorKind::openHand: setCursor(Qt::OpenHandCursor); break;
    case CursorKind::closedHand: setCursor(Qt::ClosedHandCursor); break;
    case CursorKind::move:
    case CursorKind::resize: setCursor(resizeCursors_.cursor(bucket, devicePixelRatioF())); break;
    }
}

void OverlayView::updateCursor() {
    if (!mouseInView_ || draggingState_) return;
    if (pane_->effectiveTool() == Tool::placeCircle) return setCursorKind(CursorKind::crosshair);
    const auto& circle = pane_->placedCircle();
    if (!circle) return setCursorKind(CursorKind::openHand);
    const OverlayProjection proj = projection();
    const QPointF m = *mouseInView_;
    const double d = CircleHitTest::edgeDistance(*circle, proj, m.x(), m.y());
    switch (CircleHitTest::zoneForEdgeDistance(d)) {
    case CircleZone::inside: setCursorKind(CursorKind::move, CircleHitTest::fourDirectionBucket); break;
    case CircleZone::edge: {
        ViewPointF c = proj.viewPointOf(circle->centerLongitude, circle->centerLatitude);
        double angle = std::atan2(c.y - m.y(), c.x - m.x());
        setCursorKind(CursorKind::resize, CircleHitTest::bucketForAngle(angle));
        break;
    }
    case CircleZone::outside:
        setCursorKind(CursorKind::openHand);
        pane_->setShouldIgnoreOptionKey(false);
        break;
    }
}

void OverlayView::setMouseInView(std::optional<QPointF> point) {
    if (point == mouseInView_) return;
    mouseInView_ = point;
    redraw();
    if (!point)
        setCursorKind(CursorKind::arrow);
    else
        updateCursor();
}

void OverlayView::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    setMouseInView(std::nullopt);
}

void OverlayView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    // Clicking the map gives the pane the keyboard, for + and − and the place key.
    pane_->setFocus(Qt::MouseFocusReason);
    pane_->setOptionKeyPressed(event->modifiers() & Qt::ControlModifier);
    const QPointF p = event->position();
    const OverlayProjection proj = projection();

    if (pane_->effectiveTool() == Tool::placeCircle) {
        pane_->setNextMapResultsUpdateIsDueToUser();
        Coordinate c = proj.coordinateAt(p.x(), p.y());
        pane_->setPlacedCircle(MapCircle{c.longitude, c.latitude,
                                         proj.longitudeSpanForPoints(OverlayGeometry::mouseRadius)});
        mouseInView_ = p;
        pane_->setShouldIgnoreOptionKey(true);
        pane_->usePanTool();  // one click places one circle
        updateCursor();
        return;
    }
    const auto& circle = pane_->placedCircle();
    DragState drag{DragKind::cameraPan, p, p, false, {}};
    switch (CircleHitTest::zone(circle, proj, p.x(), p.y())) {
    case CircleZone::inside: {
        ViewPointF c = proj.viewPointOf(circle->centerLongitude, circle->centerLatitude);
        drag.kind = DragKind::circleMove;
        drag.offset = QPointF(c.x, c.y) - p;
        break;
    }
    case CircleZone::edge: drag.kind = DragKind::circleResize; break;
    case CircleZone::outside: setCursorKind(CursorKind::closedHand); break;
    }
    draggingState_ = drag;
    redraw();
}

void OverlayView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF p = event->position();
    if (!draggingState_) {
        pane_->setOptionKeyPressed(event->modifiers() & Qt::ControlModifier);
        setMouseInView(rect().contains(p.toPoint()) ? std::optional<QPointF>(p) : std::nullopt);
        return;
    }
    dragTo(p);
}

void OverlayView::dragTo(QPointF p) {
    DragState& drag = *draggingState_;
    if (!drag.passedThreshold && !CircleHitTest::passesThreshold(drag.press.x(), drag.press.y(), p.x(), p.y()))
        return;
    const OverlayProjection proj = projection();
    const auto& circle = pane_->placedCircle();
    switch (drag.kind) {
    case DragKind::cameraPan:
        pane_->canvas()->panBy(p.x() - drag.last.x(), p.y() - drag.last.y());
        setCursorKind(CursorKind::closedHand);
        break;
    case DragKind::circleResize:
        if (circle) {
            ViewPointF c = proj.viewPointOf(circle->centerLongitude, circle->centerLatitude);
            double radius = std::hypot(p.x() - c.x, p.y() - c.y);
            pane_->setNextMapResultsUpdateIsDueToUser();
            pane_->setPlacedCircle(
                MapCircle{circle->centerLongitude, circle->centerLatitude, proj.longitudeSpanForPoints(radius)});
            setCursorKind(CursorKind::resize, CircleHitTest::bucketForAngle(std::atan2(c.y - p.y(), c.x - p.x())));
        }
        break;
    case DragKind::circleMove:
        if (circle) {
            QPointF centre = p + drag.offset;
            Coordinate c = proj.coordinateAt(centre.x(), centre.y());
            pane_->setNextMapResultsUpdateIsDueToUser();
            pane_->setPlacedCircle(MapCircle{c.longitude, c.latitude, circle->radiusLongitude});
            setCursorKind(CursorKind::move, CircleHitTest::fourDirectionBucket);
        }
        break;
    }
    // The drag may have ended inside a handler above (the circle removed).
    if (draggingState_) {
        draggingState_->last = p;
        draggingState_->passedThreshold = true;
    }
}

void OverlayView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    draggingState_.reset();
    mouseInView_ = event->position();
    updateCursor();
    redraw();
}

void OverlayView::afterMapMoved(QPointF pointer) {
    if (draggingState_)
        dragTo(pointer);
    else if (pane_->placedCircle())
        updateCursor();
    redraw();
}

void OverlayView::wheelEvent(QWheelEvent* event) {
    const QPointF p = event->position();
    MapCanvas* canvas = pane_->canvas();
    const bool touchpad = event->phase() != Qt::NoScrollPhase || !event->pixelDelta().isNull();
    if (touchpad) {
        // Ctrl (Command on the original) is latched for the whole gesture.
        if (event->phase() == Qt::ScrollBegin || event->phase() == Qt::NoScrollPhase)
            wasCommandKeyPressed_ = event->modifiers() & Qt::ControlModifier;
        QPointF d = event->pixelDelta().isNull() ? QPointF(event->angleDelta()) / 8 : QPointF(event->pixelDelta());
        if (wasCommandKeyPressed_)
            canvas->zoomBy(std::pow(0.995, d.y()), p);
        else
            canvas->panBy(d.x(), d.y());
    } else {
        // A mouse wheel zooms about the pointer: one notch is a factor of √2.
        QPoint a = event->angleDelta();
        if (a.y() != 0) canvas->zoomBy(std::pow(2.0, -a.y() / 240.0), p);
        if (a.x() != 0) canvas->panBy(a.x() / 2.0, 0);
    }
    event->accept();
    afterMapMoved(p);
}

bool OverlayView::event(QEvent* event) {
    if (event->type() == QEvent::NativeGesture) {
        auto* g = static_cast<QNativeGestureEvent*>(event);
        if (g->gestureType() == Qt::ZoomNativeGesture) {
            QPointF p = mapFromGlobal(g->globalPosition());
            pane_->canvas()->zoomBy(std::pow(0.333, g->value()), p);
            afterMapMoved(p);
            return true;
        }
    }
    return QWidget::event(event);
}

}  // namespace qm
