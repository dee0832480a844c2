#include "tilegrid/TilePainter.h"

#include <QPainter>
#include <QFontMetricsF>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tilegrid/MovieTime.h"

namespace qm {

namespace {

// Ten points alternating between radius 12 and 6 around (15, 15).
const QPainterPath& starPath() {
    static const QPainterPath path = [] {
        QPainterPath p;
        for (int k = 0; k < 10; ++k) {
            double a = k * 36 * std::numbers::pi / 180, r = k % 2 == 0 ? 12 : 6;
            QPointF pt(15 + std::sin(a) * r, 15 - std::cos(a) * r);
            if (k == 0) p.moveTo(pt);
            else p.lineTo(pt);
        }
        p.closeSubpath();
        return p;
    }();
    return path;
}

// A wide frame with a mountain and a sun inside, in a 24 x 24 box, drawn
// with the even-odd rule so the inner shapes are cut out of the frame.
const QPainterPath& panoramaBadgePath() {
    static const QPainterPath path = [] {
        QPainterPath p;
        p.setFillRule(Qt::OddEvenFill);
        p.moveTo(1, 6);
        p.cubicTo(8, 4.5, 16, 4.5, 23, 6);
        p.lineTo(23, 18);
        p.cubicTo(16, 16.5, 8, 16.5, 1, 18);
        p.closeSubpath();
        p.moveTo(3, 8);
        p.cubicTo(9, 7, 15, 7, 21, 8);
        p.lineTo(21, 16);
        p.lineTo(15, 10.5);
        p.lineTo(11, 14);
        p.lineTo(8.5, 12);
        p.lineTo(3, 16);
        p.closeSubpath();
        p.addEllipse(QPointF(7, 10), 1.5, 1.5);
        return p;
    }();
    return path;
}

void drawCheckBox(QPainter& painter, const QRectF& tile, bool checked, const QFont& font) {
    QRectF box(tile.x() + TilePainter::kCheckInset, tile.y() + TilePainter::kCheckInset, TilePainter::kCheckSize,
               TilePainter::kCheckSize);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    painter.drawRect(box);
    if (!checked) return;
    QFont f = font;
    f.setPixelSize(14);
    painter.setFont(f);
    painter.drawText(box, Qt::AlignCenter, QStringLiteral("✓"));
}

void drawStar(QPainter& painter, const QRectF& tile, bool filled) {
    painter.save();
    painter.translate(tile.right() - TilePainter::kStarSize, tile.y());
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(filled ? QColor::fromRgbF(1.0f, 0.75f, 0.25f) : QColor(Qt::white));
    painter.drawPath(starPath());
    painter.restore();
}

// White text with a dark rim, readable over any picture.
void drawShadowedText(QPainter& painter, const QRectF& box, int flags, const QString& text) {
    painter.setPen(QColor(0, 0, 0, 160));
    for (QPointF d : {QPointF(-1, 0), QPointF(1, 0), QPointF(0, -1), QPointF(0, 1)})
        painter.drawText(box.translated(d), flags, text);
    painter.setPen(Qt::white);
    painter.drawText(box, flags, text);
}

}  // namespace

void TilePainter::reset() {
    checkerboard_ = QPixmap();
    scaled_.clear();
    captions_.clear();
}

const QPixmap& TilePainter::checkerboard(double scale) {
    if (checkerboard_.isNull() || checkerboard_.devicePixelRatio() != scale) {
        int n = std::max(int(std::lround(16 * scale)), 1);
        QImage img(n, n, QImage::Format_RGB32);
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                bool grey = (y < n / 2) == (x >= n / 2);
                img.setPixel(x, y, grey ? qRgb(238, 238, 238) : qRgb(255, 255, 255));
            }
        checkerboard_ = QPixmap::fromImage(img);
        checkerboard_.setDevicePixelRatio(scale);
    }
    return checkerboard_;
}

const QPixmap& TilePainter::scaled(uint32_t slot, uint32_t version, const QImage& image, const QRectF& rect,
                                   double scale) {
    if (scaled_.size() <= slot) scaled_.resize(size_t(slot) + 1);
    Scaled& s = scaled_[slot];
    if (s.pixmap.isNull() || s.version != version || s.width != rect.width() || s.height != rect.height()) {
        // Aspect fill: scale to cover the cell, keep its centre.
        int w = std::max(1, int(std::lround(rect.width() * scale)));
        int h = std::max(1, int(std::lround(rect.height() * scale)));
        QImage filled = image.scaled(w, h, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
        s.pixmap = QPixmap::fromImage(filled.copy((filled.width() - w) / 2, (filled.height() - h) / 2, w, h));
        s.pixmap.setDevicePixelRatio(scale);
        s.version = version;
        s.width = rect.width();
        s.height = rect.height();
    }
    return s.pixmap;
}

void TilePainter::paint(QPainter& painter, const QRectF& rect, const TileLook& look, const Style& style,
                        uint32_t slot, uint32_t version) {
    if (look.image && !look.image->isNull()) {
        painter.fillRect(rect, QBrush(checkerboard(style.scale)));
        painter.drawPixmap(rect.topLeft(), scaled(slot, version, *look.image, rect, style.scale));
    } else {
        painter.fillRect(rect, style.placeholder);
    }
    const double s = rect.width();
    if (look.selected) painter.fillRect(rect, style.selection);
    if (look.selected && look.checkMark) drawCheckBox(painter, rect, true, style.font);
    if (look.starred) drawStar(painter, rect, true);
    if (look.duration) {
        QRectF box(rect.x(), rect.y() + s - kTimeFontSize - kTimeMargin, s - kTimeMargin, kTimeFontSize + 2);
        QFont f = style.font;
        f.setBold(true);
        f.setPixelSize(int(kTimeFontSize));
        painter.setFont(f);
        drawShadowedText(painter, box, Qt::AlignRight | Qt::AlignBottom,
                         QString::fromStdString(formatMovieTime(*look.duration)));
    }
    if (look.hasGPano) {
        painter.save();
        painter.translate(rect.x() + s - kBadgeRightMargin - kBadgeSize, rect.y() + s - kBadgeBottomMargin - kBadgeSize);
        painter.setPen(QPen(QColor(0, 0, 0, 140), 1.5));
        painter.setBrush(Qt::white);
        painter.drawPath(panoramaBadgePath());
        painter.restore();
    }
    if (style.captionHeight > 0)
        paintCaption(painter, QRectF(rect.x(), rect.bottom(), rect.width(), style.captionHeight), look, style, slot);
    paintAffordances(painter, rect, look);
}

void TilePainter::paintCaption(QPainter& painter, const QRectF& strip, const TileLook& look, const Style& style,
                               uint32_t slot) {
    const TileCaption::Colors& colors = look.selected ? style.selectedCaption : style.caption;
    if (colors.fill) painter.fillRect(strip, *colors.fill);
    if (look.caption.isEmpty()) return;
    if (captions_.size() <= slot) captions_.resize(size_t(slot) + 1);
    Caption& c = captions_[slot];
    const double width = strip.width() - 2 * TileCaption::kInset;
    if (c.width != width || c.name != look.caption) {
        c.name = look.caption;
        c.width = width;
        c.text.setText(TileCaption::elided(look.caption, QFontMetricsF(style.font), width));
        c.text.setTextFormat(Qt::PlainText);
        c.text.prepare(QTransform(), style.font);
    }
    painter.setFont(style.font);
    painter.setPen(colors.text);
    const QSizeF size = c.text.size();
    painter.drawStaticText(QPointF(strip.x() + std::max(TileCaption::kInset, (strip.width() - size.width()) / 2),
                                   strip.y() + (strip.height() - size.height()) / 2),
                           c.text);
}

void TilePainter::paintAffordances(QPainter& painter, const QRectF& rect, const TileLook& look) const {
    if (look.emptyCheck) drawCheckBox(painter, rect, false, QFont());
    if (look.emptyStar) drawStar(painter, rect, false);
}

TileLook TilePainter::lookOf(const Tile& tile, bool selected, bool starred, bool checkBoxes, bool hovered,
                             bool withCaption) {
    TileLook look;
    look.selected = selected;
    look.checkMark = checkBoxes;
    look.starred = starred;
    look.duration = tile.duration;
    look.hasGPano = tile.hasGPano;
    if (withCaption) look.caption = TileCaption::displayName(tile.path.utf8());
    if (hovered) {
        look.emptyCheck = !(checkBoxes && selected);
        look.emptyStar = !checkBoxes && !starred;
    }
    return look;
}

QColor TilePainter::accentColor(const QPalette& palette, float alpha) {
    QColor accent = palette.color(QPalette::Active, QPalette::Highlight).toHsv();
    if (accent.hsvSaturationF() < 0.1f) return QColor::fromRgbF(0.5f, 0.5f, 0.5f, alpha);
    return QColor::fromHsvF(accent.hsvHueF(), 1, 1, alpha);
}

TilePainter::Style TilePainter::style(const QPalette& palette, const QFont& font, bool focused, double scale,
                                      double captionHeight) {
    Style style;
    style.selection = focused ? accentColor(palette, 0.7f) : QColor::fromRgbF(0.45f, 0.45f, 0.45f, 0.8f);
    style.placeholder = palette.color(QPalette::AlternateBase);
    style.font = font;
    style.scale = scale;
    style.captionHeight = captionHeight;
    if (captionHeight > 0) {
        style.caption = TileCaption::colors(palette, std::nullopt);
        style.selectedCaption = TileCaption::colors(palette, style.selection);
    }
    return style;
}

}  // namespace qm
