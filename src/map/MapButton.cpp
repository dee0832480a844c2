#include "map/MapButton.h"

#include <QApplication>
#include <QEnterEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include "map/MapIcons.h"
#include "map/TooltipTiming.h"

namespace qm {

namespace {

// When the last tooltip of any side button was hidden.
TooltipTiming::Clock::time_point lastTooltipHiding{};  // the clock's epoch: long ago

// The tooltip: a framed label in the window's background colour.
class MapTooltip : public QWidget {
public:
    MapTooltip(const QString& text, QWidget* host) : QWidget(host), text_(text) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        QFont f = font();
        f.setPointSizeF(QApplication::font().pointSizeF() * 0.85);
        setFont(f);
        QFontMetricsF m(f);
        resize(int(std::lround(m.horizontalAdvance(text) + 16)), int(std::lround(m.height() + 6)));
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QRectF r = QRectF(rect());
        p.fillRect(r, QColor(0, 0, 0, 26));
        p.fillRect(r.adjusted(1, 1, -1, -1), palette().color(QPalette::Window));
        p.setPen(QColor(255, 255, 255, 26));
        p.drawRect(r.adjusted(1.5, 1.5, -2, -2));
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r.adjusted(8, 3, 0, 0), Qt::AlignLeft | Qt::AlignTop, text_);
    }

private:
    QString text_;
};

}  // namespace

MapButton::MapButton(const QString& title, const QString& tooltipText, RoundedCorners corners, QWidget* tooltipHost,
                     QWidget* parent)
    : QAbstractButton(parent), tooltipText_(tooltipText), corners_(corners), tooltipTimer_(new QTimer(this)) {
    setText(title);
    setAccessibleName(tooltipText);
    setAccessibleDescription(tooltipText);
    // The map's buttons stay out of the focus chain; the keys + and − and the
    // place key do their work from the keyboard.
    setFocusPolicy(Qt::NoFocus);
    QFont f = font();
    f.setPointSizeF(QApplication::font().pointSizeF() * 1.5);
    setFont(f);
    setFixedSize(27, 27);
    tooltip_ = new MapTooltip(tooltipText, tooltipHost);
    tooltipTimer_->setSingleShot(true);
    connect(tooltipTimer_, &QTimer::timeout, this, &MapButton::showTooltip);
}

MapButton::~MapButton() {
    delete tooltip_;
}

void MapButton::setImage(const QImage& image) {
    image_ = image;
    update();
}

bool MapButton::isTooltipVisible() const {
    return tooltip_ && tooltip_->isVisible();
}

void MapButton::setTooltipPosition(QPoint topLeft) {
    if (tooltip_) tooltip_->move(topLeft.x(), topLeft.y() - tooltip_->height() / 2);
}

void MapButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor text = palette().color(QPalette::ButtonText);
    const bool light = MapIcons::isLightAppearance(text);
    QColor fill;
    if (isChecked())
        fill = light ? QColor(Qt::black) : QColor(Qt::white);
    else if (light)
        fill = QColor::fromRgbF(1, 1, 1, isDown() ? 0.6f : 0.2f);
    else
        fill = QColor::fromRgbF(1, 1, 1, isDown() ? 0.3f : 0.1f);
    QRectF r(rect());
    // The upper button of a pair leaves one point for the separator line.
    if (corners_ == RoundedCorners::top) r.adjust(0, 0, 0, -1);
    QPainterPath path;
    const double radius = 8;
    path.setFillRule(Qt::WindingFill);
    path.addRoundedRect(r, radius, radius);
    if (corners_ == RoundedCorners::top)
        path.addRect(r.adjusted(0, radius, 0, 0));
    else
        path.addRect(r.adjusted(0, 0, 0, -radius));
    p.fillPath(path.simplified(), fill);
    if (corners_ == RoundedCorners::top && light) p.fillRect(QRectF(0, height() - 1, width(), 1), QColor(0, 0, 0, 64));
    if (!image_.isNull()) {
        QSizeF s = QSizeF(image_.size()) / image_.devicePixelRatio();
        p.drawImage(QPointF((width() - s.width()) / 2, (height() - s.height()) / 2), image_);
    } else {
        p.setPen(isChecked() ? MapIcons::onColor(text) : text);
        p.drawText(rect(), Qt::AlignCenter, this->text());
    }
}

void MapButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    auto now = TooltipTiming::Clock::now();
    auto delay = TooltipTiming::delayFor(now, lastTooltipHiding);
    if (delay.count() == 0)
        showTooltip();
    else
        tooltipTimer_->start(delay);
}

void MapButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    if (isTooltipVisible()) lastTooltipHiding = TooltipTiming::Clock::now();
    hideTooltip();
}

void MapButton::mousePressEvent(QMouseEvent* event) {
    QAbstractButton::mousePressEvent(event);
    hideTooltip();
}

void MapButton::showTooltip() {
    if (!tooltip_) return;
    tooltip_->raise();
    tooltip_->show();
}

void MapButton::hideTooltip() {
    tooltipTimer_->stop();
    if (tooltip_) tooltip_->hide();
}

}  // namespace qm
