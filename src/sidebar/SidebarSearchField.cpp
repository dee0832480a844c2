#include "sidebar/SidebarSearchField.h"

#include <QAction>
#include <QEvent>
#include <QIcon>
#include <QPainter>
#include <QPixmap>

namespace qm {

SidebarSearchField::SidebarSearchField(QWidget* parent) : QLineEdit(parent) {
    setObjectName(QStringLiteral("sidebarSearchField"));
    setPlaceholderText(QStringLiteral("Find a tag (Ctrl+F)"));
    setAccessibleName(QStringLiteral("Find a tag"));
    setClearButtonEnabled(true);
    setFixedHeight(fieldHeight);
    icon_ = addAction(QIcon(), QLineEdit::LeadingPosition);
    // The field's buttons take their accessible names from their actions.
    icon_->setText(QStringLiteral("Find a tag"));
    if (auto* clear = findChild<QAction*>(QStringLiteral("_q_qlineeditclearaction")))
        clear->setText(QStringLiteral("Clear the search"));
    updateIcon();
}

QIcon SidebarSearchField::magnifierIcon(const QColor& color) {
    if (QIcon::hasThemeIcon(QStringLiteral("edit-find"))) return QIcon::fromTheme(QStringLiteral("edit-find"));
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QColor c = color;
    c.setAlphaF(0.7f);
    p.setPen(QPen(c, 3));
    // The circle and the handle of a magnifier, scaled from a 16-point drawing.
    p.drawEllipse(QRectF(4, 4, 18, 18));
    p.drawLine(QPointF(19.5, 19.5), QPointF(28, 28));
    return QIcon(pixmap);
}

void SidebarSearchField::updateIcon() {
    icon_->setIcon(magnifierIcon(palette().color(QPalette::Text)));
}

void SidebarSearchField::changeEvent(QEvent* event) {
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) updateIcon();
}

}  // namespace qm
