#include "map/MapCanvas.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QVariantAnimation>

#include <cmath>

#include "map/TileLoader.h"
#include "map/TilePolicy.h"

namespace qm {

MapCanvas::MapCanvas(QWidget* parent) : QWidget(parent), world_(WorldBaseLayer::shared()) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    camera_.setViewSize(width(), height());
}

MapCanvas::~MapCanvas() {
    if (tiles_) tiles_->setWanted(this, {});
}

void MapCanvas::cameraMoved() {
    frameDirty_ = true;
    requestTiles();
    if (paintsFrame_) update();
    Q_EMIT regionChanged();
    Q_EMIT frameChanged();
}

void MapCanvas::setVisibleMapRect(const MapRect& rect) {
    stopAnimation();
    camera_.setVisibleMapRect(rect);
    pendingRect_.reset();
    if (!isVisible() && rect.width > 0 && rect.height > 0) pendingRect_ = rect;
    cameraMoved();
}

bool MapCanvas::isAnimating() const {
    return animation_ && animation_->state() == QAbstractAnimation::Running;
}

void MapCanvas::stopAnimation() {
    if (animation_) animation_->stop();
}

void MapCanvas::setRegion(const CoordinateRegion& region, bool animated) {
    stopAnimation();
    pendingRect_.reset();
    MapCamera target = camera_;
    target.setRegion(region);
    if (!animated || !isVisible()) {
        camera_ = target;
        cameraMoved();
        return;
    }
    // Glide: the centre along the shorter way round, the scale evenly in log.
    const MapPoint from = camera_.center(), to = target.center();
    double dx = to.x - from.x;
    dx -= std::round(dx / mercator::worldSize) * mercator::worldSize;
    const double fromLog = std::log(camera_.scale()), toLog = std::log(target.scale());
    if (!animation_) {
        animation_ = new QVariantAnimation(this);
        animation_->setDuration(350);
        animation_->setEasingCurve(QEasingCurve::InOutCubic);
        animation_->setStartValue(0.0);
        animation_->setEndValue(1.0);
    }
    animation_->disconnect(this);
    connect(animation_, &QVariantAnimation::valueChanged, this, [=, this](const QVariant& v) {
        double t = v.toDouble();
        camera_.setCenterAndScale(MapPoint{from.x + dx * t, from.y + (to.y - from.y) * t},
                                  std::exp(fromLog + (toLog - fromLog) * t));
        cameraMoved();
    });
    connect(animation_, &QVariantAnimation::finished, this, [=, this] {
        camera_.setCenterAndScale(to, target.scale());
        cameraMoved();
    });
    animation_->start();
}

void MapCanvas::panBy(double dx, double dy) {
    stopAnimation();
    pendingRect_.reset();
    camera_.panBy(dx, dy);
    cameraMoved();
}

void MapCanvas::zoomBy(double factor, QPointF about) {
    stopAnimation();
    pendingRect_.reset();
    camera_.zoomBy(factor, about.x(), about.y());
    cameraMoved();
}

void MapCanvas::zoomBy(double factor) {
    zoomBy(factor, QPointF(camera_.viewWidth() / 2, camera_.viewHeight() / 2));
}

void MapCanvas::setTileLoader(std::shared_ptr<TileLoader> loader) {
    if (loader == tiles_) return;
    if (tiles_) {
        tiles_->setWanted(this, {});
        tiles_->disconnect(this);
    }
    tiles_ = std::move(loader);
    if (tiles_) {
        auto redraw = [this] {
            frameDirty_ = true;
            if (paintsFrame_) update();
            Q_EMIT frameChanged();
        };
        connect(tiles_.get(), &TileLoader::tileLoaded, this, redraw);
        // A new source (or none): its tiles are asked for at once.
        connect(tiles_.get(), &TileLoader::sourceChanged, this, [this, redraw] {
            redraw();
            requestTiles();
        });
        requestTiles();
    }
    frameDirty_ = true;
    if (paintsFrame_) update();
    Q_EMIT frameChanged();
}

void MapCanvas::requestTiles() {
    // Only what a person sees is fetched: nothing while hidden. While the
    // tiles are off nothing is fetched either, but the loader knows what
    // would be, for the moment they are turned on.
    if (!tiles_ || !isVisible()) return;
    std::vector<TileKey> keys;
    for (const VisibleTile& t : TilePolicy::visibleTiles(camera_, devicePixelRatioF()))
        keys.push_back(t.key);
    tiles_->setWanted(this, keys);
}

bool MapCanvas::isDark() const {
    return palette().color(QPalette::Base).lightnessF() < 0.5;
}

void MapCanvas::render(QPainter& painter) {
    world_->paint(painter, camera_, WorldBaseLayer::colorsFor(isDark()));
    if (!tiles_ || !tiles_->isEnabled()) return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    for (const VisibleTile& t : TilePolicy::visibleTiles(camera_, devicePixelRatioF()))
        if (const QImage* image = tiles_->tile(t.key))
            // Whole points at both edges, so neighbouring tiles leave no seams.
            painter.drawImage(QRectF(QPointF(std::floor(t.viewX), std::floor(t.viewY)),
                                     QPointF(std::floor(t.viewX + t.size), std::floor(t.viewY + t.size))),
                              *image);
    painter.restore();
}

const QImage& MapCanvas::frame() {
    const qreal dpr = devicePixelRatioF();
    const QSize pixels(std::max(1, int(std::ceil(width() * dpr))),
                       std::max(1, int(std::ceil(height() * dpr))));
    if (frame_.size() != pixels) {
        frame_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        frameDirty_ = true;
    }
    frame_.setDevicePixelRatio(dpr);
    if (frameDirty_) {
        QPainter p(&frame_);
        render(p);
        frameDirty_ = false;
    }
    return frame_;
}

void MapCanvas::setPaintsFrame(bool paints) {
    paintsFrame_ = paints;
    setAttribute(Qt::WA_OpaquePaintEvent, paints);
    if (paints) update();
}

void MapCanvas::paintEvent(QPaintEvent* event) {
    if (!paintsFrame_) return;
    QPainter p(this);
    p.drawImage(event->rect(), frame(),
                QRectF(QPointF(event->rect().topLeft()) * devicePixelRatioF(),
                       QSizeF(event->rect().size()) * devicePixelRatioF()));
}

void MapCanvas::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Laid out before it shows: the size it has now is its own.
    if (pendingRect_) {
        camera_.setViewSize(width(), height());
        camera_.setVisibleMapRect(*pendingRect_);
        pendingRect_.reset();
        cameraMoved();
    }
    requestTiles();
}

void MapCanvas::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // A hidden map (another node, a background tab) keeps no tiles coming.
    if (tiles_) tiles_->setWanted(this, {});
}

void MapCanvas::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Keep the centre and zoom; the view shows more or less around it. An
    // area set while hidden is fitted into the new size instead.
    camera_.setViewSize(width(), height());
    if (pendingRect_) camera_.setVisibleMapRect(*pendingRect_);
    cameraMoved();
}

void MapCanvas::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        frameDirty_ = true;
        update();
        Q_EMIT frameChanged();
    }
}

}  // namespace qm
