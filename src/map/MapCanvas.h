#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "map/MapCamera.h"
#include "map/WorldBaseLayer.h"

class QVariantAnimation;

namespace qm {

class TileLoader;

// Our Web Mercator map: the offline world base layer, always drawn first,
// with online raster tiles over it when a tile source is set. It keeps the
// camera (visible region, zoom) and renders one cached frame, which it paints
// itself or hands to the overlay's GPU renderer to paint under the dots.
// Pointer and keyboard handling belong to the overlay and the pane, which
// call the moves below.
class MapCanvas : public QWidget {
    Q_OBJECT
public:
    explicit MapCanvas(QWidget* parent = nullptr);
    ~MapCanvas() override;

    const MapCamera& camera() const { return camera_; }
    // While the canvas is hidden, the rectangle last set: a hidden widget has
    // no real size yet (Qt gives it 100 × 30), so the area is fitted again
    // into the size it has when it is shown.
    MapRect visibleMapRect() const { return pendingRect_ ? *pendingRect_ : camera_.visibleMapRect(); }
    void setVisibleMapRect(const MapRect& rect);
    CoordinateRegion region() const { return camera_.region(); }
    // Animated moves glide there (and end where an unanimated one would).
    void setRegion(const CoordinateRegion& region, bool animated = false);
    bool isAnimating() const;

    void panBy(double dx, double dy);
    // factor < 1 zooms in; about a view point, or the centre.
    void zoomBy(double factor, QPointF about);
    void zoomBy(double factor);
    void zoomIn() { zoomBy(1 / MapCamera::stepFactor); }
    void zoomOut() { zoomBy(MapCamera::stepFactor); }

    // Online tiles from the program's loader, drawn while it has a source;
    // none (the default) draws the base layer alone.
    void setTileLoader(std::shared_ptr<TileLoader> loader);
    TileLoader* tileLoader() const { return tiles_.get(); }

    // The map as it is now, at the widget's size and pixel ratio.
    const QImage& frame();
    // Paints the frame only when no one else does (the GPU renderer does).
    void setPaintsFrame(bool paints);
    // Renders the map into a painter of the view's size (benchmarks, the frame).
    void render(QPainter& painter);

Q_SIGNALS:
    // The visible region changed (moves, zooms, resizes, animation steps).
    void regionChanged();
    // The frame must be drawn again (region, tiles, palette).
    void frameChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void cameraMoved();
    void stopAnimation();
    void requestTiles();
    bool isDark() const;

    MapCamera camera_;
    std::shared_ptr<const WorldBaseLayer> world_;
    std::shared_ptr<TileLoader> tiles_;  // shared by every map
    QImage frame_;
    bool frameDirty_ = true;
    bool paintsFrame_ = true;
    QVariantAnimation* animation_ = nullptr;
    std::optional<MapRect> pendingRect_;  // set while hidden, fitted at the first real size
};

}  // namespace qm
