#include "map/ResultsView.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

#include "desktop/AccessibleEvents.h"

namespace qm {

ResultsView::ResultsView(QWidget* parent)
    : QWidget(parent), label_(new QLabel(this)), closeButton_(new QToolButton(this)) {
    setAccessibleName(tr("Map Results"));
    label_->setTextFormat(Qt::PlainText);
    label_->setAccessibleDescription(tr("Map Results"));
    closeButton_->setText(QStringLiteral("\u00D7"));
    closeButton_->setAccessibleName(tr("Close"));
    closeButton_->setAutoRaise(true);
    // The close button is skipped by the window's keyboard loop.
    closeButton_->setFocusPolicy(Qt::NoFocus);
    QFont f = closeButton_->font();
    f.setPointSizeF(15);
    closeButton_->setFont(f);
    connect(closeButton_, &QToolButton::clicked, this, &ResultsView::closeRequested);
}

QString ResultsView::textFor(const std::optional<size_t>& count) {
    if (!count) return QString();
    if (*count == 1) return QStringLiteral("1 result");
    return QString::number(qulonglong(*count)) + QStringLiteral(" results");
}

void ResultsView::setCount(const std::optional<size_t>& count) {
    QString text = textFor(count);
    if (text == label_->text()) return;
    label_->setText(text);
    if (!AccessibleEvents::wanted()) return;
    QAccessibleEvent event(label_, QAccessible::NameChanged);
    AccessibleEvents::post(&event);
}

QString ResultsView::text() const {
    return label_->text();
}

void ResultsView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int h = titleRowHeight;
    int fontHeight = QFontMetrics(label_->font()).height();
    label_->setGeometry(10, std::max(0, (h - fontHeight) / 2), std::max(0, width() - 10 - h), fontHeight);
    QSize fitted = closeButton_->sizeHint();
    int w = std::max(fitted.width(), fitted.height());
    closeButton_->setGeometry(width() - (h - w) / 2 - w, (h - fitted.height()) / 2, w, fitted.height());
}

void ResultsView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF r = QRectF(rect()).adjusted(2, 1, -2, -3);
    // A soft shadow below, then the content background.
    QPainterPath shadow;
    shadow.addRoundedRect(r.translated(0, 1), 6, 6);
    p.fillPath(shadow, QColor(0, 0, 0, 64));
    QPainterPath body;
    body.addRoundedRect(r, 6, 6);
    QColor base = palette().color(QPalette::Base);
    base.setAlphaF(0.95f);
    p.fillPath(body, base);
}

}  // namespace qm
