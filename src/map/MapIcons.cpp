#include "map/MapIcons.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace qm {

namespace {

QImage canvas(qreal dpr) {
    QImage image(QSize(int(std::ceil(23 * dpr)), int(std::ceil(23 * dpr))), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    return image;
}

}  // namespace

bool MapIcons::isLightAppearance(const QColor& controlText) {
    QColor rgb = controlText.toRgb();
    if (!rgb.isValid()) return true;
    return rgb.lightnessF() < 0.5;
}

QColor MapIcons::offColor(const QColor& controlText) {
    QColor c = controlText;
    c.setAlphaF(0.5f);
    return c;
}

QColor MapIcons::onColor(const QColor& controlText) {
    return isLightAppearance(controlText) ? QColor(Qt::white) : QColor(Qt::black);
}

QImage MapIcons::pan(const QColor& color, qreal dpr) {
    QImage image = canvas(dpr);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // An open hand: a thumb, three fingers and the palm's outline.
    QPainterPath path;
    path.moveTo(11, 17.5);
    path.lineTo(11.5, 8);
    path.moveTo(8, 16.5);
    path.lineTo(9.5, 6.5);
    path.lineTo(13.5, 6.5);
    path.lineTo(14, 16.5);
    path.moveTo(4.5, 10.5);
    path.cubicTo(8.5, 7.5, 6, 8, 9.5, 4.5);
    path.lineTo(14, 4.5);
    path.cubicTo(14.5, 8, 15.5, 7, 15.5, 17);
    // The drawing's y axis grows upward.
    p.translate(0, 23);
    p.scale(1, -1);
    p.setPen(QPen(color, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
    return image;
}

QImage MapIcons::place(const QColor& color, qreal dpr) {
    QImage image = canvas(dpr);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(color, 2));
    const QPointF c(11.5, 11.5);
    p.drawEllipse(c, 6.5, 6.5);
    for (QPointF d : {QPointF(1, 0), QPointF(-1, 0), QPointF(0, 1), QPointF(0, -1)})
        p.drawLine(c + d * 7, c + d * 9.5);
    return image;
}

}  // namespace qm
