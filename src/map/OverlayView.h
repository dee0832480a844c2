#pragma once

#include <QPointF>
#include <QWidget>

#include <optional>

#include "map/OverlayGeometry.h"
#include "map/OverlayProjection.h"
#include "map/ResizeCursors.h"

namespace qm {

class MapView;
class OverlayRenderer;

// Lies over the map and handles every pointer event on it: panning and
// zooming the map, placing, moving and resizing the circle, with a cursor
// that tells what a press would do. It draws the cluster dots, the circle
// and the placement preview through its GPU renderer; without a usable GL
// context there is no renderer and the overlay stays empty, while all of its
// handling keeps working.
class OverlayView : public QWidget {
    Q_OBJECT
public:
    enum class DragKind { cameraPan, circleResize, circleMove };
    struct DragState {
        DragKind kind;
        QPointF press;  // where the drag started (view points)
        QPointF last;   // the last pointer location acted on
        bool passedThreshold = false;
        QPointF offset;  // circleMove: from the pointer to the circle's centre at the press
    };
    // The cursor shown, for whoever needs to know which one it is.
    enum class CursorKind { arrow, crosshair, openHand, closedHand, move, resize };

    explicit OverlayView(MapView* pane);
    ~OverlayView() override;

    OverlayProjection projection() const;
    const std::optional<DragState>& draggingState() const { return draggingState_; }
    const std::optional<QPointF>& mouseInView() const { return mouseInView_; }
    CursorKind cursorKind() const { return cursorKind_; }
    int cursorBucket() const { return cursorBucket_; }
    bool hasRenderer() const { return renderer_ != nullptr; }
    OverlayRenderer* renderer() const { return renderer_; }

    // The vertex data of the next frame.
    void buildFrame(OverlayFrame& frame) const;
    void redraw();
    void updateCursor();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void setMouseInView(std::optional<QPointF> point);
    void dragTo(QPointF point);
    void afterMapMoved(QPointF pointer);
    void setCursorKind(CursorKind kind, int bucket = 0);
    bool isOverCircleAware() const;

    MapView* pane_;
    OverlayRenderer* renderer_ = nullptr;
    std::optional<DragState> draggingState_;
    std::optional<QPointF> mouseInView_;
    bool wasCommandKeyPressed_ = false;
    CursorKind cursorKind_ = CursorKind::arrow;
    int cursorBucket_ = 0;
    ResizeCursors resizeCursors_;
};

}  // namespace qm
