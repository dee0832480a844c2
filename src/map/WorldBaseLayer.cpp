#include "map/WorldBaseLayer.h"

#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "map/MapCamera.h"

// Q_INIT_RESOURCE declares its function in the enclosing namespace, so it is
// called from the global one (the resources live in a static library).
static void initMapResources() {
    Q_INIT_RESOURCE(map);
}

namespace qm {

namespace {

class Reader {
public:
    explicit Reader(const QByteArray& data) : data_(data) {}
    bool ok() const { return ok_; }
    template <typename T>
    T read() {
        T value{};
        if (pos_ + sizeof(T) > size_t(data_.size())) {
            ok_ = false;
            return value;
        }
        std::memcpy(&value, data_.constData() + pos_, sizeof(T));  // the file is little-endian, as is the host
        pos_ += sizeof(T);
        return value;
    }
    size_t remaining() const { return size_t(data_.size()) - pos_; }

private:
    const QByteArray& data_;
    size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace

std::shared_ptr<const WorldBaseLayer> WorldBaseLayer::shared() {
    static const std::shared_ptr<const WorldBaseLayer> layer = [] {
        initMapResources();
        QFile file(QStringLiteral(":/map/world.qmw"));
        std::shared_ptr<WorldBaseLayer> l;
        if (file.open(QIODevice::ReadOnly)) l = fromData(file.readAll());
        return std::shared_ptr<const WorldBaseLayer>(l ? l : std::make_shared<WorldBaseLayer>());
    }();
    return layer;
}

std::shared_ptr<WorldBaseLayer> WorldBaseLayer::fromData(const QByteArray& data) {
    auto layer = std::make_shared<WorldBaseLayer>();
    if (!data.startsWith("QMW1")) return layer;
    Reader r(data);
    r.read<uint32_t>();
    uint32_t layers = r.read<uint32_t>();
    for (uint32_t i = 0; i < layers && r.ok(); ++i) {
        uint8_t kind = r.read<uint8_t>(), detail = r.read<uint8_t>();
        uint32_t lines = r.read<uint32_t>();
        Level& level = layer->levels_[detail == 110 ? 0 : 1];
        Lines& target = kind == 0 ? level.land : kind == 2 ? level.coast : level.borders;
        for (uint32_t l = 0; l < lines && r.ok(); ++l) {
            uint32_t count = r.read<uint32_t>();
            if (size_t(count) * 8 > r.remaining()) return std::make_shared<WorldBaseLayer>();
            Line line{uint32_t(target.points.size() / 2), count, 2, -1, 2, -1};
            for (uint32_t p = 0; p < count; ++p) {
                float lon = r.read<float>(), lat = r.read<float>();
                MapPoint m = mercator::mapPoint(
                    Coordinate{lon, std::clamp(double(lat), -mercator::maxLatitude, mercator::maxLatitude)});
                float u = float(m.x / mercator::worldSize), v = float(m.y / mercator::worldSize);
                target.points.push_back(u);
                target.points.push_back(v);
                line.uMin = std::min(line.uMin, u);
                line.uMax = std::max(line.uMax, u);
                line.vMin = std::min(line.vMin, v);
                line.vMax = std::max(line.vMax, v);
            }
            target.lines.push_back(line);
        }
    }
    if (!r.ok()) return std::make_shared<WorldBaseLayer>();
    return layer;
}

size_t WorldBaseLayer::pointCount(Detail detail) const {
    const Level& l = level(detail);
    return (l.land.points.size() + l.coast.points.size() + l.borders.points.size()) / 2;
}

size_t WorldBaseLayer::memoryBytes() const {
    size_t bytes = sizeof(*this);
    for (const Level& l : levels_)
        for (const Lines* s : {&l.land, &l.coast, &l.borders})
            bytes += s->points.capacity() * sizeof(float) + s->lines.capacity() * sizeof(Line);
    return bytes;
}

WorldBaseLayer::Colors WorldBaseLayer::colorsFor(bool dark) {
    if (dark) return Colors{QColor(0x1b, 0x26, 0x30), QColor(0x3b, 0x3d, 0x3a), QColor(0x6c, 0x78, 0x80),
                            QColor(0x7a, 0x7a, 0x72)};
    return Colors{QColor(0xaa, 0xd3, 0xdf), QColor(0xf2, 0xef, 0xe9), QColor(0x7f, 0xa8, 0xb8),
                  QColor(0xb0, 0xa0, 0xb8)};
}

void WorldBaseLayer::paint(QPainter& painter, const MapCamera& camera, const Colors& colors) const {
    const double w = camera.viewWidth(), h = camera.viewHeight();
    painter.fillRect(QRectF(0, 0, w, h), colors.sea);
    if (isEmpty()) return;

    const MapRect visible = camera.visibleMapRect();
    const double worldPoints = mercator::worldSize * camera.scale();  // the world's width in view points
    const double left = visible.x / mercator::worldSize, top = visible.y / mercator::worldSize;
    const double right = left + visible.width / mercator::worldSize, bottom = top + visible.height / mercator::worldSize;
    const Level& lv = level(detailFor(camera.zoomLevel()));

    // Each copy of the world that reaches into the view, by whole turns; a
    // shape may run on past ±180 into the next copy's span.
    const int firstCopy = int(std::floor(left)) - 1, lastCopy = int(std::floor(right)) + 1;

    auto build = [&](const Lines& set, bool closed, QPainterPath& path) {
        QPolygonF poly;
        for (int k = firstCopy; k <= lastCopy; ++k) {
            for (const Line& line : set.lines) {
                if (line.uMax + k < left || line.uMin + k > right || line.vMax < top || line.vMin > bottom) continue;
                poly.resize(line.count);
                const float* p = set.points.data() + size_t(line.first) * 2;
                QPointF* out = poly.data();
                for (uint32_t i = 0; i < line.count; ++i)
                    out[i] = QPointF((p[2 * i] + k - left) * worldPoints, (p[2 * i + 1] - top) * worldPoints);
                if (closed)
                    path.addPolygon(poly);
                else {
                    path.moveTo(out[0]);
                    for (uint32_t i = 1; i < line.count; ++i) path.lineTo(out[i]);
                }
            }
        }
    };

    painter.save();
    // The land is filled without antialiasing (several times faster); the
    // antialiased coastline drawn over its edge hides the steps.
    painter.setRenderHint(QPainter::Antialiasing, false);
    QPainterPath land;
    land.setFillRule(Qt::OddEvenFill);
    build(lv.land, true, land);
    painter.fillPath(land, colors.land);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath coast;
    build(lv.coast, false, coast);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(colors.coast, 0.8));
    painter.drawPath(coast);
    QPainterPath borders;
    build(lv.borders, false, borders);
    // Solid: a dashed pen costs the raster engine several times as much.
    painter.setPen(QPen(colors.border, 0.8));
    painter.drawPath(borders);
    painter.restore();
}

}  // namespace qm
