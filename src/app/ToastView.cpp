#include "app/ToastView.h"

#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>

#include "app/ContentLayout.h"

namespace qm {

ToastView::ToastView(QWidget* parent)
    : QWidget(parent), effect_(new QGraphicsOpacityEffect(this)), animation_(new QPropertyAnimation(effect_, "opacity", this)) {
    setObjectName("toastView");
    setAttribute(Qt::WA_TransparentForMouseEvents);
    effect_->setOpacity(0);
    setGraphicsEffect(effect_);
    animation_->setDuration(durationMilliseconds);
    animation_->setKeyValueAt(0, 0.0);
    animation_->setKeyValueAt(0.05, 1.0);
    animation_->setKeyValueAt(0.9, 1.0);
    animation_->setKeyValueAt(1, 0.0);
    connect(animation_, &QPropertyAnimation::finished, this, [this] { QWidget::hide(); });
    QWidget::hide();
}

void ToastView::show(const QString& text) {
    using namespace contentLayout;
    text_ = text;
    const QSize textSize = fontMetrics().size(0, text);
    resize(textSize.width() + toastPaddingWidth, textSize.height() + toastPaddingHeight);
    place();
    animation_->stop();
    effect_->setOpacity(0);
    QWidget::show();
    raise();
    update();
    animation_->start();
}

bool ToastView::isShowing() const {
    return animation_->state() == QAbstractAnimation::Running;
}

double ToastView::opacity() const {
    return effect_->opacity();
}

void ToastView::place() {
    if (!parentWidget()) return;
    const QRect area = parentWidget()->rect();
    move(area.x() + (area.width() - width()) / 2,
         area.y() + area.height() - height() - contentLayout::toastBottomDistance);
}

void ToastView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    path.addRoundedRect(box, contentLayout::toastCornerRadius, contentLayout::toastCornerRadius);
    painter.fillPath(path, palette().color(QPalette::Window));
    // A thin edge stands in for the shadow, which would take the widget's one effect.
    painter.setPen(QColor(0, 0, 0, 64));
    painter.drawPath(path);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignCenter, text_);
}

}  // namespace qm
